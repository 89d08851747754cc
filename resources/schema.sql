-- The file-list table of FileName.mdb. Started in a folder without one, the
-- tool makes the database from this file in the per-user data folder, and
-- nowhere else.
CREATE TABLE Tellarin (
    FileIndex  INTEGER PRIMARY KEY AUTOINCREMENT,
    FileName   NVARCHAR(255),
    FileEnable BOOLEAN
);
