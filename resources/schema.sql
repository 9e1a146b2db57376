-- The shipped database: one table for the SIM phonebook, one for the SIM's SMS store.
-- Every row carries its change mark (0 in step, 1 new, 2 deleted, 3 changed).
CREATE TABLE sim (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER);
CREATE TABLE simsms (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER);
-- Which SIM each store's rows were read from (store: the table's name), so that a write
-- never lands on another SIM; either field may be empty when the modem refused it.
CREATE TABLE simcard (store TEXT PRIMARY KEY, iccid TEXT, imsi TEXT);
-- What that SIM held at each location when it was last read or written, so that a change
-- can show the value it replaces.
CREATE TABLE simseen (store TEXT, entry INTEGER, desc TEXT, number TEXT, PRIMARY KEY (store, entry));
-- The write journals (the file next to the database that records what the SIM took) each
-- store has applied, by the journal's token, so that none is applied twice.
CREATE TABLE simpass (store TEXT PRIMARY KEY, token TEXT);
-- Which SMS are parts of a message sent in parts (by index): the sender's reference, the
-- count of parts and this part's number, from the concatenation header.
CREATE TABLE simparts (entry INTEGER PRIMARY KEY, reference INTEGER, total INTEGER, part INTEGER);
-- Each SMS as the SIM holds it (by index): its status byte, then the service centre's
-- address and the PDU, in hexadecimal; a write keeps a message's status, sender and time.
CREATE TABLE simpdu (entry INTEGER PRIMARY KEY, record TEXT);
-- What each store's locations name, as its last read recorded: "mm" for ModemManager's
-- numbers for the messages (its Messaging interface), "sim" (or no row) for the SIM's own
-- indexes; a write goes only the way the rows were read.
CREATE TABLE simlocations (store TEXT PRIMARY KEY, way TEXT);
