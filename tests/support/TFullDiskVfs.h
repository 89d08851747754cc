// A disk that fills up, for SQLite: while an object of this class lives, the
// engine's default file system is a thin layer over the real one that lets
// the files it writes grow by a given number of bytes in all and then fails
// every write that would grow a file further with SQLITE_FULL, as a full
// disk does. No mount and no privilege needed; every connection opened
// meanwhile (the tool's and a test's own) goes through it.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace vantelo::test {

class TFullDiskVfs {
public:
    TFullDiskVfs()
    {
        sqlite3_vfs_register(&Vfs(), 1);
        Room() = -1;
    }
    // The real file system is the default again; a connection still open
    // keeps going through this one, which stays registered.
    ~TFullDiskVfs()
    {
        Room() = -1;
        sqlite3_vfs_register(Real(), 1);
    }
    TFullDiskVfs(const TFullDiskVfs&) = delete;
    TFullDiskVfs& operator=(const TFullDiskVfs&) = delete;

    // From now on the files may grow by `bytes` in all; -1: without limit.
    static void SetRoom(int64_t bytes) { Room() = bytes; }
    // Writes refused for want of room so far.
    static int Refusals() { return RefusalCount(); }

private:
    struct File {
        sqlite3_file base;
        sqlite3_file* real;
    };

    static std::atomic<int64_t>& Room()
    {
        static std::atomic<int64_t> room{-1};
        return room;
    }
    static std::atomic<int>& RefusalCount()
    {
        static std::atomic<int> count{0};
        return count;
    }
    static sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real; }
    // The engine's own default file system, found once.
    static sqlite3_vfs* Real()
    {
        static sqlite3_vfs* const real = sqlite3_vfs_find("unix");
        return real;
    }
    // Lives as long as the process: connections opened through it may
    // outlast the object that made it the default.
    static sqlite3_vfs& Vfs()
    {
        static sqlite3_vfs vfs = [] {
            sqlite3_vfs made = *Real();
            made.zName = "vantelo-full-disk";
            made.szOsFile = static_cast<int>(sizeof(File)) + Real()->szOsFile;
            made.xOpen = &Open;
            return made;
        }();
        return vfs;
    }

    static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
    {
        auto* wrapped = reinterpret_cast<File*>(file);
        std::memset(wrapped, 0, sizeof(File));
        wrapped->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + sizeof(File));
        const int code = Real()->xOpen(Real(), name, wrapped->real, flags, outFlags);
        if (wrapped->real->pMethods)
            wrapped->base.pMethods = &Methods();
        return code;
    }

    static int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset)
    {
        sqlite3_file* real = Real(file);
        sqlite3_int64 size = 0;
        if (Room() >= 0 && real->pMethods->xFileSize(real, &size) == SQLITE_OK && offset + amount > size) {
            const int64_t growth = offset + amount - size;
            int64_t room = Room();
            do {
                if (room >= 0 && growth > room) {
                    ++RefusalCount();
                    return SQLITE_FULL;
                }
            } while (!Room().compare_exchange_weak(room, room - growth));
        }
        return real->pMethods->xWrite(real, data, amount, offset);
    }

    static const sqlite3_io_methods& Methods()
    {
        static const sqlite3_io_methods methods = {
            3,
            [](sqlite3_file* f) {
                sqlite3_file* real = Real(f);
                const int code = real->pMethods->xClose(real);
                f->pMethods = nullptr;
                return code;
            },
            [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
                return Real(f)->pMethods->xRead(Real(f), data, amount, offset);
            },
            &Write,
            [](sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); },
            [](sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); },
            [](sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); },
            [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xLock(Real(f), lock); },
            [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xUnlock(Real(f), lock); },
            [](sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); },
            [](sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); },
            [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); },
            [](sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); },
            [](sqlite3_file* f, int region, int size, int extend, void volatile** out) {
                return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
            },
            [](sqlite3_file* f, int offset, int n, int flags) {
                return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
            },
            [](sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); },
            [](sqlite3_file* f, int deleteFlag) { return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag); },
            [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
                // No memory-mapped reads: every page goes through Write.
                *out = nullptr;
                (void)f, (void)offset, (void)amount;
                return SQLITE_OK;
            },
            [](sqlite3_file* f, sqlite3_int64 offset, void* page) {
                (void)f, (void)offset, (void)page;
                return SQLITE_OK;
            },
        };
        return methods;
    }
};

}  // namespace vantelo::test
