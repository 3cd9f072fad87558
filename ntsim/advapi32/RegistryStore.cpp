#include "RegistryStore.h"

#include "RegistryText.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ntsim::registry {

namespace {

const char rootSddl[] = "O:SYG:SYD:(A;;KR;;;WD)(A;;KA;;;SY)(A;;KA;;;BA)";

std::shared_ptr<Key> makeRoot(const std::string& name)
{
    auto key = std::make_shared<Key>(name);
    key->security = *security::SecurityDescriptor::fromSddl(rootSddl);
    key->lastWrite = fileTimeNow();
    return key;
}

bool pathStartsWith(const std::string& path, const std::string& prefix)
{
    if (path.size() < prefix.size() || !equalsNoCase(path.substr(0, prefix.size()), prefix))
        return false;
    return path.size() == prefix.size() || path[prefix.size()] == '\\';
}

std::string parentPath(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string lastName(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Calls transfer(done) until size bytes are moved; a short read or write
// goes on, an interrupted one is tried again, an end or error fails.
template<typename Transfer>
bool transferAll(size_t size, Transfer transfer)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = transfer(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool preadAll(int fd, off_t from, off_t to, std::string& out)
{
    out.resize(static_cast<size_t>(to - from));
    return transferAll(out.size(), [&](size_t done) {
        return pread(fd, &out[done], out.size() - done, from + static_cast<off_t>(done));
    });
}

bool writeAll(int fd, const std::string& text)
{
    return transferAll(text.size(), [&](size_t done) {
        return ::write(fd, text.data() + done, text.size() - done);
    });
}

}

Store::Store(std::string registryDir)
    : m_dir(std::move(registryDir))
{
}

Store& Store::current()
{
    static std::mutex mutex;
    static std::unique_ptr<Store> store;
    std::lock_guard<std::mutex> guard(mutex);
    std::string dir = Machine::current().registryDir();
    if (!store || store->m_dir != dir)
        store = std::make_unique<Store>(dir);
    return *store;
}

Store::Lock::Lock(Store& store, bool exclusive)
{
    fd = ::open((store.m_dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    while (flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            fd = -1;
            return;
        }
    }
    ok = store.refresh(exclusive);
    store.m_writing = exclusive && ok;
    m_store = &store;
}

Store::Lock::~Lock()
{
    if (m_store)
        m_store->m_writing = false;
    if (fd >= 0) {
        flock(fd, LOCK_UN);
        ::close(fd);
    }
}

std::shared_ptr<Key> Store::root(const std::string& name) const
{
    if (equalsNoCase(name, "HKEY_LOCAL_MACHINE"))
        return m_tree.machine;
    if (equalsNoCase(name, "HKEY_USERS"))
        return m_tree.users;
    return nullptr;
}

std::shared_ptr<Key> Store::find(const std::string& fullPath) const { return findIn(m_tree, fullPath); }

std::shared_ptr<Key> Store::findIn(const Tree& tree, const std::string& path)
{
    auto names = splitKeyPath(path);
    if (names.empty())
        return nullptr;
    std::shared_ptr<Key> key;
    if (equalsNoCase(names[0], "HKEY_LOCAL_MACHINE"))
        key = tree.machine;
    else if (equalsNoCase(names[0], "HKEY_USERS"))
        key = tree.users;
    for (size_t i = 1; key && i < names.size(); ++i)
        key = key->subkey(names[i]);
    return key;
}

const Store::Hive* Store::hiveOf(const Tree& tree, const std::string& path)
{
    const Hive* best = nullptr;
    for (auto& h : tree.hives)
        if (pathStartsWith(path, h.rootPath) && (!best || h.rootPath.size() > best->rootPath.size()))
            best = &h;
    return best;
}

bool Store::inHive(const Key& key) const { return !key.deleted() && hiveOf(m_tree, key.path()); }

bool Store::isHiveRoot(const Key& key) const
{
    std::string path = key.path();
    for (auto& h : m_tree.hives)
        if (equalsNoCase(h.rootPath, path))
            return true;
    return false;
}

bool Store::refresh(bool writer)
{
    if (!m_loaded) {
        if (!loadAll())
            return false;
    } else {
        struct stat st;
        if (stat(journalPath().c_str(), &st) != 0) {
            if (m_journalIno != 0 && !loadAll())
                return false;
        } else if (st.st_ino != m_journalIno || st.st_size < m_journalOffset) {
            if (!loadAll())
                return false;
        } else if (st.st_size > m_journalOffset) {
            if (!readJournal(m_tree, m_journalOffset, true) && !loadAll())
                return false;
        }
    }
    if (!writer)
        return true;
    unsigned newest = 0;
    for (auto& h : m_tree.hives)
        newest = std::max(newest, h.epoch);
    // A compaction that died after writing hives and before the journal:
    // finish it before anything is appended to the old journal.
    if (m_journalIno != 0 && m_journalEpoch < newest)
        return compactLocked();
    return ensureJournal();
}

bool Store::loadAll()
{
    Tree tree;
    tree.machine = makeRoot("HKEY_LOCAL_MACHINE");
    tree.users = makeRoot("HKEY_USERS");
    Token system = Token::system();

    std::vector<std::string> files;
    if (DIR* d = opendir(m_dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".reg") == 0)
                files.push_back(name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    for (auto& file : files) {
        std::string text, error;
        RegText parsed;
        if (!readWholeFile(m_dir + "/" + file, text) || !parseRegText(text, parsed, error)) {
            std::fprintf(stderr, "ntsim: registry hive %s/%s: %s\n", m_dir.c_str(), file.c_str(), error.c_str());
            return false;
        }
        if (parsed.keys.empty())
            continue;
        Hive hive { file, parsed.keys.front().path, 0 };
        for (auto& [name, value] : parsed.header)
            if (name == "epoch")
                hive.epoch = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        struct stat st;
        uint64_t fileTime = stat((m_dir + "/" + file).c_str(), &st) == 0
            ? (static_cast<uint64_t>(st.st_mtime) + 11644473600ull) * 10000000ull
            : fileTimeNow();
        for (auto& textKey : parsed.keys) {
            if (textKey.remove || !pathStartsWith(textKey.path, hive.rootPath))
                continue;
            auto parent = findIn(tree, parentPath(textKey.path));
            if (!parent)
                continue;
            auto key = parent->subkey(lastName(textKey.path));
            if (!key) {
                key = std::make_shared<Key>(lastName(textKey.path));
                // A key the file gives no descriptor takes its parent's
                // inheritable entries, as if the system had created it.
                key->security = security::inheritedDescriptor(parent->security, system);
                key->security.owner = parent->security.owner;
                parent->addSubkey(key);
            }
            if (textKey.sddl) {
                if (auto sd = security::SecurityDescriptor::fromSddl(*textKey.sddl))
                    key->security = *sd;
            }
            key->className = textKey.className;
            key->lastWrite = fileTime;
            for (auto& v : textKey.values) {
                if (v.remove)
                    key->removeValue(v.name);
                else
                    key->setValue(v.name, v.type, v.data);
            }
        }
        tree.hives.push_back(hive);
    }

    // Replay into the fresh tree, then carry it into the objects open
    // handles hold.
    m_journalIno = 0;
    m_journalOffset = 0;
    m_journalEpoch = 0;
    struct stat st;
    if (stat(journalPath().c_str(), &st) == 0 && !readJournal(tree, 0, false))
        return false;
    m_tree.hives = tree.hives;
    if (m_tree.machine) {
        m_tree.machine->adopt(*tree.machine);
        m_tree.users->adopt(*tree.users);
    } else {
        m_tree.machine = tree.machine;
        m_tree.users = tree.users;
    }
    m_loaded = true;
    return true;
}

bool Store::readJournal(Tree& tree, off_t from, bool checkEpoch)
{
    int fd = ::open(journalPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    std::string text;
    bool ok = preadAll(fd, 0 < from ? from : 0, st.st_size, text);
    std::string head;
    if (ok && from > 0)
        ok = preadAll(fd, 0, std::min<off_t>(st.st_size, 64), head);
    ::close(fd);
    if (!ok)
        return false;
    if (from == 0)
        head = text;
    unsigned epoch = 0;
    size_t headerEnd = head.find('\n');
    if (headerEnd == std::string::npos || !parseJournalHeader(head.substr(0, headerEnd), epoch))
        return from == 0 && st.st_size == 0;
    if (checkEpoch && epoch != m_journalEpoch)
        return false;
    size_t start = from == 0 ? headerEnd + 1 : 0;
    std::vector<JournalRecord> records;
    size_t used = decodeRecords(text.data() + start, text.size() - start, records);
    for (auto& r : records)
        apply(tree, r, epoch);
    m_journalIno = st.st_ino;
    m_journalEpoch = epoch;
    m_journalOffset = (from == 0 ? 0 : from) + static_cast<off_t>(start + used);
    return true;
}

void Store::apply(Tree& tree, const JournalRecord& r, unsigned journalEpoch)
{
    if (r.fields.empty())
        return;
    const std::string& path = r.fields[0];
    const Hive* hive = hiveOf(tree, path);
    // Hives written after this journal began hold its changes already.
    if (!hive || hive->epoch > journalEpoch)
        return;
    switch (r.op) {
    case JournalRecord::CreateKey: {
        auto parent = findIn(tree, parentPath(path));
        if (!parent || parent->subkey(lastName(path)))
            return;
        auto key = std::make_shared<Key>(lastName(path));
        auto sd = r.fields.size() > 1 ? security::SecurityDescriptor::fromSddl(r.fields[1]) : std::nullopt;
        key->security = sd ? *sd : security::inheritedDescriptor(parent->security, Token::system());
        key->className = r.fields.size() > 2 ? r.fields[2] : "";
        key->lastWrite = r.time;
        parent->addSubkey(key);
        parent->lastWrite = r.time;
        return;
    }
    case JournalRecord::DeleteKey: {
        auto parent = findIn(tree, parentPath(path));
        if (parent && !equalsNoCase(path, hive->rootPath)) {
            parent->removeSubkey(lastName(path));
            parent->lastWrite = r.time;
        }
        return;
    }
    default:
        break;
    }
    auto key = findIn(tree, path);
    if (!key)
        return;
    key->lastWrite = r.time;
    if (r.op == JournalRecord::SetValue && r.fields.size() == 4) {
        std::vector<uint8_t> data;
        if (fromHex(r.fields[3], data))
            key->setValue(r.fields[1], static_cast<DWORD>(std::strtoul(r.fields[2].c_str(), nullptr, 10)), data);
    } else if (r.op == JournalRecord::DeleteValue && r.fields.size() == 2) {
        key->removeValue(r.fields[1]);
    } else if (r.op == JournalRecord::SetSecurity && r.fields.size() == 2) {
        if (auto sd = security::SecurityDescriptor::fromSddl(r.fields[1]))
            key->security = *sd;
    }
}

bool Store::ensureJournal()
{
    if (m_journalIno != 0)
        return true;
    unsigned newest = 0;
    for (auto& h : m_tree.hives)
        newest = std::max(newest, h.epoch);
    return startJournal(newest);
}

bool Store::startJournal(unsigned epoch)
{
    std::string header = journalHeader(epoch);
    if (!writeFileAtomically(journalPath(), header))
        return false;
    struct stat st;
    if (stat(journalPath().c_str(), &st) != 0)
        return false;
    m_journalIno = st.st_ino;
    m_journalEpoch = epoch;
    m_journalOffset = static_cast<off_t>(header.size());
    return true;
}

void Store::record(JournalRecord::Op op, std::vector<std::string> fields)
{
    JournalRecord r;
    r.op = op;
    r.time = fileTimeNow();
    r.fields = std::move(fields);
    m_pending += encodeRecord(r);
}

std::shared_ptr<Key> Store::createKey(Key& parent, const std::string& name, const security::SecurityDescriptor& sd,
    const std::string& className)
{
    auto key = std::make_shared<Key>(name);
    key->security = sd;
    key->className = className;
    key->lastWrite = fileTimeNow();
    parent.addSubkey(key);
    parent.lastWrite = key->lastWrite;
    record(JournalRecord::CreateKey, { key->path(), sd.toSddl(), className });
    return key;
}

void Store::deleteKey(Key& key)
{
    Key* parent = key.parent();
    if (!parent)
        return;
    record(JournalRecord::DeleteKey, { key.path() });
    parent->lastWrite = fileTimeNow();
    parent->removeSubkey(key.name());
}

void Store::setValue(Key& key, const std::string& name, DWORD type, std::vector<BYTE> data)
{
    record(JournalRecord::SetValue, { key.path(), name, std::to_string(type), toHex(data) });
    key.setValue(name, type, std::move(data));
    key.lastWrite = fileTimeNow();
}

void Store::deleteValue(Key& key, const std::string& name)
{
    record(JournalRecord::DeleteValue, { key.path(), name });
    key.removeValue(name);
    key.lastWrite = fileTimeNow();
}

void Store::setSecurity(Key& key, const security::SecurityDescriptor& sd)
{
    record(JournalRecord::SetSecurity, { key.path(), sd.toSddl() });
    key.security = sd;
    key.lastWrite = fileTimeNow();
}

bool Store::commit()
{
    if (m_pending.empty())
        return true;
    std::string pending;
    std::swap(pending, m_pending);
    int fd = ::open(journalPath().c_str(), O_WRONLY | O_CLOEXEC);
    bool ok = fd >= 0;
    struct stat st;
    ok = ok && fstat(fd, &st) == 0 && st.st_ino == m_journalIno;
    // Cut a tail torn by a writer that was killed mid-record.
    ok = ok && (st.st_size == m_journalOffset || ftruncate(fd, m_journalOffset) == 0);
    ok = ok && lseek(fd, m_journalOffset, SEEK_SET) == m_journalOffset && writeAll(fd, pending);
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        // Memory is ahead of the disk now: read the disk again.
        loadAll();
        return false;
    }
    m_journalOffset += static_cast<off_t>(pending.size());
    if (m_journalOffset > compactThreshold)
        compactLocked();
    return true;
}

bool Store::writeHive(const std::string& path, const Key& hiveRoot, unsigned epoch)
{
    std::string text = "REGEDIT4\n;ntsim-hive epoch=" + std::to_string(epoch) + "\n\n" + formatSubtree(hiveRoot);
    return writeFileAtomically(path, text);
}

bool Store::compactLocked()
{
    unsigned epoch = m_journalEpoch;
    for (auto& h : m_tree.hives)
        epoch = std::max(epoch, h.epoch);
    ++epoch;
    for (auto& h : m_tree.hives) {
        auto root = findIn(m_tree, h.rootPath);
        if (!root || !writeHive(m_dir + "/" + h.file, *root, epoch))
            return false;
        h.epoch = epoch;
    }
    return startJournal(epoch);
}

bool Store::compact()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    Lock lock(*this, true);
    return lock.ok && compactLocked();
}

}

namespace ntsim::registry {

bool Store::flush()
{
    int fd = ::open(journalPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    bool ok = fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

}
