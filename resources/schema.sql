-- The file-list table of FileName.mdb. scripts/run creates the database from
-- this file when it is missing; the tool itself never creates it.
CREATE TABLE Tellarin (
    FileIndex  INTEGER PRIMARY KEY AUTOINCREMENT,
    FileName   NVARCHAR(255),
    FileEnable BOOLEAN
);
