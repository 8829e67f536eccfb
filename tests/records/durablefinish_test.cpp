// A finished record's outcome is reported once Finish returns, so by then its
// commit is on the disk: every write into the records file's write-ahead log is
// synced before Finish returns. Watched through an SQLite VFS of the test's
// own, made the default for the test's time, that passes every call on to the
// real one and counts the log's writes and syncs.

#include "recordstore.h"

#include "recordtesting.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>

namespace tamrisk {
namespace {

// The watched file: ours first, the real VFS's file after it.
struct WatchedFile {
    sqlite3_file base;
    bool wal;
    sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(this) + sizeof(WatchedFile)); }
};
WatchedFile* Watched(sqlite3_file* file) { return reinterpret_cast<WatchedFile*>(file); }
sqlite3_file* Real(sqlite3_file* file) { return Watched(file)->Real(); }

sqlite3_vfs* realVfs = nullptr;
std::atomic<int> walWrites{0};       // writes into the log, since set to 0
std::atomic<int> unsyncedWrites{0};  // writes into the log since its last sync

// Each call passed on to the real file; writes and syncs of the log counted.
const sqlite3_io_methods WatchedMethods = {
    3,
    [](sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); },
    [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
        return Real(f)->pMethods->xRead(Real(f), data, amount, offset);
    },
    [](sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
        if (Watched(f)->wal) {
            ++walWrites;
            ++unsyncedWrites;
        }
        return Real(f)->pMethods->xWrite(Real(f), data, amount, offset);
    },
    [](sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); },
    [](sqlite3_file* f, int flags) {
        const int rc = Real(f)->pMethods->xSync(Real(f), flags);
        if (rc == SQLITE_OK && Watched(f)->wal)
            unsyncedWrites = 0;
        return rc;
    },
    [](sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); },
    [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xLock(Real(f), lock); },
    [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xUnlock(Real(f), lock); },
    [](sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); },
    [](sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); },
    [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); },
    [](sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); },
    [](sqlite3_file* f, int page, int size, int extend, void volatile** out) {
        return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) { return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags); },
    [](sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); },
    [](sqlite3_file* f, int remove) { return Real(f)->pMethods->xShmUnmap(Real(f), remove); },
    [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
        return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
    },
    [](sqlite3_file* f, sqlite3_int64 offset, void* page) { return Real(f)->pMethods->xUnfetch(Real(f), offset, page); },
};

int WatchedOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    WatchedFile* watched = Watched(file);
    watched->base.pMethods = nullptr;
    watched->wal = (flags & SQLITE_OPEN_WAL) != 0;
    const int rc = realVfs->xOpen(realVfs, name, watched->Real(), flags, outFlags);
    if (watched->Real()->pMethods != nullptr)
        watched->base.pMethods = &WatchedMethods;
    return rc;
}

// The watching VFS, the default while it lives: every other call goes to the real one.
class WatchedVfs {
public:
    WatchedVfs() {
        realVfs = sqlite3_vfs_find(nullptr);
        m_vfs = *realVfs;
        m_vfs.iVersion = 1;  // the calls after version 1 are left out, so SQLite uses only these
        m_vfs.szOsFile = static_cast<int>(sizeof(WatchedFile)) + realVfs->szOsFile;
        m_vfs.zName = "tamrisk-watched";
        m_vfs.pNext = nullptr;
        m_vfs.xOpen = WatchedOpen;
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~WatchedVfs() {
        sqlite3_vfs_unregister(&m_vfs);
        sqlite3_vfs_register(realVfs, 1);
    }
    WatchedVfs(const WatchedVfs&) = delete;
    WatchedVfs& operator=(const WatchedVfs&) = delete;

private:
    sqlite3_vfs m_vfs;
};

TEST(DurableFinish, EveryWriteOfTheFinishIsSyncedBeforeItReturns) {
    const WatchedVfs vfs;
    const QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    RecordStore store;
    ASSERT_TRUE(testing::StoreOk(store.Open(folder.filePath(QStringLiteral("records.sqlite")))));
    RecordHeader header = testing::TestHeader("00000000-0000-4000-8000-000000000001");
    ASSERT_TRUE(testing::StoreOk(store.Begin(header)));
    RecordBatch batch;
    AddLogLine(batch.log, {5, ResultColour::Green, "?? size: passed", 3});
    ASSERT_TRUE(testing::StoreOk(store.AppendBatch(header.id, batch)));

    walWrites = 0;
    header.outcome = RecordOutcome::Pass;
    header.durationMs = 40;
    ASSERT_TRUE(testing::StoreOk(store.Finish(header)));
    EXPECT_GT(walWrites.load(), 0) << "the finish went into the write-ahead log";
    EXPECT_EQ(unsyncedWrites.load(), 0) << "writes of the finish not yet on the disk";
}

}  // namespace
}  // namespace tamrisk
