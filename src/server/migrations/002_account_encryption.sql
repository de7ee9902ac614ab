-- snipjar-server schema, version 2: what end-to-end encryption needs of the server. The server
-- never holds the history key: only its public id and a verifier, and for pairing two computers,
-- short-lived mailboxes whose bodies are sealed or public keys.
SET search_path = snipjar_service;

-- The account's encryption state; no row: encryption is off. Changed by compare-and-set on key_id.
CREATE TABLE account_encryption (
    account_id bigint PRIMARY KEY REFERENCES accounts ON DELETE CASCADE,
    key_id text NOT NULL,
    verifier bytea NOT NULL,
    changed_at timestamptz NOT NULL DEFAULT now()
);

-- A pairing in progress: a mailbox named by a hash of the code the user types (never the code), a
-- few write-once slots, gone after expires_at.
CREATE TABLE pairing_mailboxes (
    account_id bigint NOT NULL REFERENCES accounts ON DELETE CASCADE,
    mailbox text NOT NULL,
    expires_at timestamptz NOT NULL,
    PRIMARY KEY (account_id, mailbox)
);
CREATE TABLE pairing_slots (
    account_id bigint NOT NULL,
    mailbox text NOT NULL,
    slot text NOT NULL,
    body bytea NOT NULL,
    PRIMARY KEY (account_id, mailbox, slot),
    FOREIGN KEY (account_id, mailbox) REFERENCES pairing_mailboxes ON DELETE CASCADE
);

UPDATE server SET schema_version = 2;
