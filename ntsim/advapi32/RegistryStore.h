// The registry of a machine as its processes share it: the hive files in
// registry/ (REGEDIT4 text, written whole and atomically) and the journal
// of the changes since they were written. A change is in the journal when
// its call returns; every call first brings the process's tree up to date
// with what other processes appended, reading only what is new.
#pragma once
#include "RegistryJournal.h"
#include "RegistryTree.h"

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ntsim::registry {

class Store {
public:
    explicit Store(std::string registryDir);
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The store of the process's machine.
    static Store& current();

    // Runs f with the tree up to date, under the shared registry lock.
    template<typename F>
    LONG read(F&& f)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        Lock lock(*this, false);
        if (!lock.ok)
            return ERROR_REGISTRY_IO_FAILED;
        return f();
    }

    // Runs f under the exclusive lock; the changes it makes through the
    // calls below are journalled before write returns.
    template<typename F>
    LONG write(F&& f)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        Lock lock(*this, true);
        if (!lock.ok)
            return ERROR_REGISTRY_IO_FAILED;
        LONG result = f();
        if (!commit())
            return ERROR_REGISTRY_IO_FAILED;
        return result;
    }

    // "HKEY_LOCAL_MACHINE" or "HKEY_USERS".
    std::shared_ptr<Key> root(const std::string& name) const;
    // A key by its full path, or null.
    std::shared_ptr<Key> find(const std::string& fullPath) const;
    // Whether a key lies in a hive (the machine's and users' roots do not).
    bool inHive(const Key& key) const;
    bool isHiveRoot(const Key& key) const;

    // Changes, only inside write().
    std::shared_ptr<Key> createKey(Key& parent, const std::string& name, const security::SecurityDescriptor& sd,
        const std::string& className);
    void deleteKey(Key& key);
    void setValue(Key& key, const std::string& name, DWORD type, std::vector<BYTE> data);
    void deleteValue(Key& key, const std::string& name);
    void setSecurity(Key& key, const security::SecurityDescriptor& sd);

    // Writes every hive from memory and starts an empty journal.
    bool compact();
    // Forces the journal to the disk itself (past the host's caches).
    bool flush();

    // Writes a tree of hives as files of a new registry directory.
    static bool writeHive(const std::string& path, const Key& hiveRoot, unsigned epoch);

    // Journal size above which a writer folds it into the hives.
    static constexpr off_t compactThreshold = 512 * 1024;

private:
    struct Hive {
        std::string file;
        std::string rootPath;
        unsigned epoch { 0 };
    };
    struct Tree {
        std::shared_ptr<Key> machine;
        std::shared_ptr<Key> users;
        std::vector<Hive> hives;
    };
    struct Lock {
        Lock(Store& store, bool exclusive);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        int fd { -1 };
        bool ok { false };
        Store* m_store { nullptr };
    };

    std::string journalPath() const { return m_dir + "/journal"; }
    bool refresh(bool writer);
    bool loadAll();
    bool readJournal(Tree& tree, off_t from, bool checkEpoch);
    bool compactLocked();
    bool ensureJournal();
    // Replaces the journal by an empty one of that epoch.
    bool startJournal(unsigned epoch);
    bool commit();
    void record(JournalRecord::Op op, std::vector<std::string> fields);

    static std::shared_ptr<Key> findIn(const Tree& tree, const std::string& path);
    static const Hive* hiveOf(const Tree& tree, const std::string& path);
    static void apply(Tree& tree, const JournalRecord& record, unsigned journalEpoch);

    std::string m_dir;
    std::mutex m_mutex;
    Tree m_tree;
    bool m_loaded { false };
    bool m_writing { false };
    ino_t m_journalIno { 0 };
    off_t m_journalOffset { 0 };
    unsigned m_journalEpoch { 0 };
    std::string m_pending;
};

}
