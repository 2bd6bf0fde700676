#include "platform/registry/RegistryImport.h"

#include <utility>

RegistryImport::RegistryImport(StoreFor storeFor, std::size_t keysPerBatch)
    : m_storeFor(std::move(storeFor))
    , m_keysPerBatch(keysPerBatch == 0 ? 1 : keysPerBatch) {}

// An unfinished import rolls back its last transaction.
RegistryImport::~RegistryImport() {
    m_key = {};
    m_parent = {};
    m_batch.reset();
}

bool RegistryImport::fail(std::string why) {
    if (m_error.empty())
        m_error = std::move(why);
    m_key = {};
    m_parent = {};
    m_batch.reset();
    return false;
}

bool RegistryImport::commitBatch() {
    if (!m_batch)
        return true;
    const bool ok = m_batch->commit();
    m_batch.reset();
    m_batchKeys = 0;
    return ok || fail("the store refused the write");
}

bool RegistryImport::openKey(const RegKeyPath& key) {
    RegistryStore* store = m_storeFor ? m_storeFor(key.root) : nullptr;
    if (!store || !store->writable())
        return fail("the store cannot be written");
    if (store != m_store || m_batchKeys >= m_keysPerBatch) {
        if (!commitBatch())
            return false;
        m_parent = {};
        m_parentPath.clear();
    }
    m_store = store;
    if (!m_batch)
        m_batch = std::make_unique<WriteBatch>(*store);

    const std::size_t slash = key.path.rfind('\\');
    if (slash == std::string::npos) {
        m_key = store->createKey(key.path);
    } else {
        const std::string_view parentPath(key.path.data(), slash);
        if (!m_parent || parentPath != m_parentPath) {
            m_parent = store->createKey(parentPath);
            m_parentPath = parentPath;
        }
        m_key =
            m_parent ? m_parent.createSubkey(std::string_view(key.path).substr(slash + 1)) : RegistryKey();
    }
    if (!m_key)
        return fail("the key cannot be created");
    ++m_batchKeys;
    ++m_keys;
    return true;
}

bool RegistryImport::addLine(std::string_view line) {
    if (!m_error.empty())
        return false;
    ++m_line;
    RegTextLine parsed = parseRegTextLine(line);
    switch (parsed.kind) {
    case RegTextLine::Kind::Blank:
        return true;
    case RegTextLine::Kind::Key:
        return openKey(parsed.key);
    case RegTextLine::Kind::Value:
        if (!m_key)
            return fail("a value without a key line before it");
        if (!m_key.setValue(parsed.value.name, parsed.value.value))
            return fail("the value cannot be written");
        ++m_values;
        return true;
    case RegTextLine::Kind::Bad:
        break;
    }
    return fail("not a key or value line");
}

bool RegistryImport::finish() {
    if (!m_error.empty())
        return false;
    m_key = {};
    m_parent = {};
    return commitBatch();
}
