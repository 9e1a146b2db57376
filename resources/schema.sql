-- The shipped database: one table for the SIM phonebook, one for the SIM's SMS store.
-- Every row carries its change mark (0 in step, 1 new, 2 deleted, 3 changed).
CREATE TABLE sim (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER);
CREATE TABLE simsms (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER);
