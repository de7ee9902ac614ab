-- Snipjar sync database, schema version 2: the spans of each owner's history.
--
-- A client's change token is a position in its owner's history. A server restored from an older
-- backup has lost the changes after the backup; clients then take change numbers from the server's
-- clock (never below it, in microseconds), so the numbers taken after the restore are all above
-- any lost one, and a token from before the restore falls in no span the server holds. Such a
-- client is told that the server's history went back, fetches everything and sends again what the
-- server lost, instead of skipping the changes numbered below its token.

UPDATE snipjar.schema_version SET version = 2;

-- The change numbers each transaction took, one row per transaction that moved the counter
-- (written by the client in that transaction: the numbers it took need not start right after the
-- counter's old value).
CREATE TABLE snipjar.change_spans (
    owner text NOT NULL DEFAULT current_user,
    first_change bigint NOT NULL,
    last_change bigint NOT NULL,
    PRIMARY KEY (owner, last_change),
    CHECK (first_change <= last_change)
);
-- Every position given out before this version stays valid.
INSERT INTO snipjar.change_spans (owner, first_change, last_change)
    SELECT owner, 0, change_counter FROM snipjar.owners;

ALTER TABLE snipjar.change_spans ENABLE ROW LEVEL SECURITY;
ALTER TABLE snipjar.change_spans FORCE ROW LEVEL SECURITY;
CREATE POLICY own_rows ON snipjar.change_spans USING (owner = current_user)
    WITH CHECK (owner = current_user);
GRANT SELECT, INSERT, DELETE ON snipjar.change_spans TO snipjar_users;

-- Tombstone maintenance also drops the spans wholly before the pruned position: a token there has
-- expired anyway.
CREATE OR REPLACE FUNCTION snipjar.prune(retention interval DEFAULT NULL) RETURNS bigint
LANGUAGE plpgsql AS $$
DECLARE
    keep interval := coalesce(retention, (SELECT tombstone_retention FROM snipjar.settings LIMIT 1));
    removed bigint;
BEGIN
    WITH gone AS (
        DELETE FROM snipjar.records
        WHERE deleted AND deleted_at <= now() - keep
        RETURNING owner, change_number
    ), newest AS (
        SELECT owner, max(change_number) AS through, count(*) AS n FROM gone GROUP BY owner
    ), marked AS (
        UPDATE snipjar.owners o SET pruned_through = greatest(o.pruned_through, newest.through)
        FROM newest WHERE o.owner = newest.owner
        RETURNING newest.n
    )
    SELECT coalesce(sum(n), 0) INTO removed FROM marked;
    DELETE FROM snipjar.change_spans s USING snipjar.owners o
        WHERE s.owner = o.owner AND s.last_change < o.pruned_through;
    RETURN removed;
END
$$;
