-- snipjar-server schema, version 1. Every table is keyed by the account's immutable id (its first
-- key column), so that the tables can be distributed by that key; nothing refers to a user name.
CREATE SCHEMA IF NOT EXISTS snipjar_service;
SET search_path = snipjar_service;

-- One row: the schema version and the database's epoch, a random id made here that tells this
-- database from any other (and from a re-initialised one) in the clients' account identity.
CREATE TABLE server (
    schema_version integer NOT NULL,
    epoch text NOT NULL,
    tombstone_retention interval NOT NULL DEFAULT interval '30 days'
);
INSERT INTO server (schema_version, epoch) VALUES (1, gen_random_uuid()::text);

-- change_counter and pruned_through as the per-account history positions: every save and delete
-- takes the next number under this row's lock; a token older than pruned_through missed deletions.
CREATE TABLE accounts (
    account_id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    user_name text NOT NULL UNIQUE,
    password_hash text NOT NULL,
    quota_bytes bigint NOT NULL DEFAULT 1073741824,
    used_bytes bigint NOT NULL DEFAULT 0,
    change_counter bigint NOT NULL DEFAULT 0,
    pruned_through bigint NOT NULL DEFAULT 0,
    created_at timestamptz NOT NULL DEFAULT now()
);

-- A signed-in computer; only the SHA-256 of its token's random part is kept.
CREATE TABLE devices (
    account_id bigint NOT NULL REFERENCES accounts ON DELETE CASCADE,
    device_id bigint GENERATED ALWAYS AS IDENTITY,
    name text NOT NULL,
    token_hash bytea NOT NULL,
    created_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (account_id, device_id),
    UNIQUE (account_id, token_hash)
);

CREATE TABLE zones (
    account_id bigint NOT NULL REFERENCES accounts ON DELETE CASCADE,
    zone_name text NOT NULL,
    PRIMARY KEY (account_id, zone_name)
);

-- A record in its newest state; a deleted one stays as a tombstone (no fields) until pruned.
CREATE TABLE records (
    account_id bigint NOT NULL,
    zone_name text NOT NULL,
    record_name text NOT NULL,
    record_type text NOT NULL,
    change_tag text,
    change_number bigint NOT NULL,
    deleted_at timestamptz,
    fields bytea,
    PRIMARY KEY (account_id, zone_name, record_name),
    FOREIGN KEY (account_id, zone_name) REFERENCES zones ON DELETE CASCADE
);
CREATE INDEX records_changes ON records (account_id, zone_name, change_number);
CREATE INDEX records_tombstones ON records (account_id, deleted_at) WHERE deleted_at IS NOT NULL;

-- References of live records; action 1 deletes the referring record with its target.
CREATE TABLE record_references (
    account_id bigint NOT NULL,
    zone_name text NOT NULL,
    record_name text NOT NULL,
    field_key text NOT NULL,
    target_zone text NOT NULL,
    target_name text NOT NULL,
    action smallint NOT NULL CHECK (action IN (0, 1)),
    PRIMARY KEY (account_id, zone_name, record_name, field_key),
    FOREIGN KEY (account_id, zone_name, record_name) REFERENCES records ON DELETE CASCADE
);
CREATE INDEX record_references_targets ON record_references (account_id, target_zone, target_name);

-- Uploaded bytes, in chunks. An asset is attached to a record's field by a save; one never
-- attached is removed by maintenance after a day.
CREATE TABLE assets (
    account_id bigint NOT NULL REFERENCES accounts ON DELETE CASCADE,
    asset_id text NOT NULL,
    size bigint NOT NULL,
    zone_name text,
    record_name text,
    field_key text,
    created_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (account_id, asset_id)
);
CREATE UNIQUE INDEX assets_fields ON assets (account_id, zone_name, record_name, field_key)
    WHERE record_name IS NOT NULL;
CREATE TABLE asset_chunks (
    account_id bigint NOT NULL,
    asset_id text NOT NULL,
    seq integer NOT NULL,
    data bytea NOT NULL,
    PRIMARY KEY (account_id, asset_id, seq),
    FOREIGN KEY (account_id, asset_id) REFERENCES assets ON DELETE CASCADE
);

-- The change numbers each transaction took (see the client's history-went-back rule).
CREATE TABLE change_spans (
    account_id bigint NOT NULL REFERENCES accounts ON DELETE CASCADE,
    first_change bigint NOT NULL,
    last_change bigint NOT NULL,
    PRIMARY KEY (account_id, last_change)
);
