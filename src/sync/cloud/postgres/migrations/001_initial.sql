-- Snipjar sync database, schema version 1.
--
-- One database serves many users. Every user is a LOGIN role and a member of the group role
-- snipjar_users, which holds the privileges; the owner of every row is the role that wrote it
-- (current_user), and row-level security, forced even for the tables' owner, lets a role see and
-- change only its own rows whatever SQL its client sends. The record field values are one opaque
-- bytea the server never reads. Applied once by an administrator (scripts/sync-server.sh migrate).

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'snipjar_users') THEN
        CREATE ROLE snipjar_users NOLOGIN;
    END IF;
    EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT, TEMPORARY ON DATABASE %I TO snipjar_users', current_database());
END
$$;

CREATE SCHEMA snipjar;
REVOKE ALL ON SCHEMA snipjar FROM PUBLIC;
GRANT USAGE ON SCHEMA snipjar TO snipjar_users;

-- The schema's version; a client refuses a server whose version it does not know.
CREATE TABLE snipjar.schema_version (
    version integer NOT NULL
);
INSERT INTO snipjar.schema_version (version) VALUES (1);

-- Server-wide settings for maintenance.
CREATE TABLE snipjar.settings (
    tombstone_retention interval NOT NULL DEFAULT interval '30 days'
);
INSERT INTO snipjar.settings DEFAULT VALUES;

-- Each owner's change counter. Every save and delete takes the next value under this row's lock,
-- held to the end of its transaction, so change numbers commit in the order they were taken.
-- pruned_through is the newest change whose tombstone maintenance removed: a change token older
-- than that has missed deletions and must start again.
CREATE TABLE snipjar.owners (
    owner text PRIMARY KEY DEFAULT current_user,
    change_counter bigint NOT NULL DEFAULT 0,
    pruned_through bigint NOT NULL DEFAULT 0
);

CREATE TABLE snipjar.zones (
    owner text NOT NULL DEFAULT current_user,
    zone_name text NOT NULL,
    PRIMARY KEY (owner, zone_name)
);

-- A record in its newest state; a deleted record stays as a tombstone (no fields) until pruned.
CREATE TABLE snipjar.records (
    owner text NOT NULL DEFAULT current_user,
    zone_name text NOT NULL,
    record_name text NOT NULL,
    record_type text NOT NULL,
    change_tag text,
    change_number bigint NOT NULL,
    deleted boolean NOT NULL DEFAULT false,
    deleted_at timestamptz,
    fields bytea,
    PRIMARY KEY (owner, zone_name, record_name),
    FOREIGN KEY (owner, zone_name) REFERENCES snipjar.zones (owner, zone_name) ON DELETE CASCADE,
    CHECK (deleted = (deleted_at IS NOT NULL))
);
CREATE INDEX records_changes ON snipjar.records (owner, zone_name, change_number);

-- References of live records, by field; action 1 deletes the referring record with its target.
CREATE TABLE snipjar.record_references (
    owner text NOT NULL DEFAULT current_user,
    zone_name text NOT NULL,
    record_name text NOT NULL,
    field_key text NOT NULL,
    target_zone text NOT NULL,
    target_name text NOT NULL,
    action smallint NOT NULL CHECK (action IN (0, 1)),
    PRIMARY KEY (owner, zone_name, record_name, field_key),
    FOREIGN KEY (owner, zone_name, record_name)
        REFERENCES snipjar.records (owner, zone_name, record_name) ON DELETE CASCADE
);
CREATE INDEX record_references_targets ON snipjar.record_references (owner, target_zone, target_name);

-- Asset bytes per record and field: inline up to a size, above it in a large object owned by the
-- role that wrote it (readable by nobody else while lo_compat_privileges is off).
CREATE TABLE snipjar.assets (
    owner text NOT NULL DEFAULT current_user,
    zone_name text NOT NULL,
    record_name text NOT NULL,
    field_key text NOT NULL,
    size bigint NOT NULL,
    data bytea,
    large_object oid,
    PRIMARY KEY (owner, zone_name, record_name, field_key),
    FOREIGN KEY (owner, zone_name, record_name)
        REFERENCES snipjar.records (owner, zone_name, record_name) ON DELETE CASCADE,
    CHECK ((data IS NULL) <> (large_object IS NULL))
);

CREATE FUNCTION snipjar.unlink_asset_object() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF OLD.large_object IS NOT NULL
       AND (TG_OP = 'DELETE' OR NEW.large_object IS DISTINCT FROM OLD.large_object) THEN
        PERFORM lo_unlink(OLD.large_object);
    END IF;
    RETURN NULL;
END
$$;
CREATE TRIGGER assets_unlink AFTER UPDATE OR DELETE ON snipjar.assets
    FOR EACH ROW EXECUTE FUNCTION snipjar.unlink_asset_object();

-- Row-level security on every table, forced for the tables' owner too.
ALTER TABLE snipjar.schema_version ENABLE ROW LEVEL SECURITY;
ALTER TABLE snipjar.schema_version FORCE ROW LEVEL SECURITY;
CREATE POLICY readable ON snipjar.schema_version FOR SELECT USING (true);
ALTER TABLE snipjar.settings ENABLE ROW LEVEL SECURITY;
ALTER TABLE snipjar.settings FORCE ROW LEVEL SECURITY;
CREATE POLICY readable ON snipjar.settings FOR SELECT USING (true);

DO $$
DECLARE
    t text;
BEGIN
    FOREACH t IN ARRAY ARRAY['owners', 'zones', 'records', 'record_references', 'assets'] LOOP
        EXECUTE format('ALTER TABLE snipjar.%I ENABLE ROW LEVEL SECURITY', t);
        EXECUTE format('ALTER TABLE snipjar.%I FORCE ROW LEVEL SECURITY', t);
        EXECUTE format('CREATE POLICY own_rows ON snipjar.%I USING (owner = current_user) '
                       'WITH CHECK (owner = current_user)', t);
        EXECUTE format('GRANT SELECT, INSERT, UPDATE, DELETE ON snipjar.%I TO snipjar_users', t);
    END LOOP;
END
$$;
GRANT SELECT ON snipjar.schema_version, snipjar.settings TO snipjar_users;

-- The notice channel of the current role: LISTEN on it, NOTIFY it in each change's transaction.
CREATE FUNCTION snipjar.notice_channel() RETURNS text LANGUAGE sql STABLE AS $$
    SELECT 'snipjar_' || md5(current_user::text)
$$;

-- Removes tombstones older than the retention (the settings' one when none is given) and records,
-- per owner, the newest change removed. Returns how many went. Called by maintenance as the
-- administrator for every owner; a user calling it prunes only their own rows.
CREATE FUNCTION snipjar.prune(retention interval DEFAULT NULL) RETURNS bigint LANGUAGE plpgsql AS $$
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
    RETURN removed;
END
$$;

REVOKE ALL ON FUNCTION snipjar.prune(interval) FROM PUBLIC;
REVOKE ALL ON FUNCTION snipjar.notice_channel() FROM PUBLIC;
REVOKE ALL ON FUNCTION snipjar.unlink_asset_object() FROM PUBLIC;
GRANT EXECUTE ON FUNCTION snipjar.notice_channel() TO snipjar_users;
GRANT EXECUTE ON FUNCTION snipjar.prune(interval) TO snipjar_users;
