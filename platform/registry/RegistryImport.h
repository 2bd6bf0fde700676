#pragma once

// Reads the store's text form (RegistryText.h) back into the stores, line by
// line: every key line creates the key where missing, every value line below
// it sets that value; values and keys the text does not name stay as they
// are. Writes go in transactions of `keysPerBatch` keys each (and a new one
// whenever the text switches between roots), so a large text costs few
// commits while other programs still get turns between them. A line that
// cannot be imported stops the import: the transaction under way is rolled
// back, the ones before it stay.
//
// Consecutive keys under the same parent (the usual case: a list of entries)
// are created from the parent found for the first of them, so each costs one
// lookup rather than one per path element.

#include "platform/registry/RegistryText.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class RegistryImport {
public:
    // The store of a root, or null when it cannot be opened.
    using StoreFor = std::function<RegistryStore*(RegistryRoot)>;

    explicit RegistryImport(StoreFor storeFor, std::size_t keysPerBatch = 10000);
    ~RegistryImport();
    RegistryImport(const RegistryImport&) = delete;
    RegistryImport& operator=(const RegistryImport&) = delete;

    // False at the first line that cannot be imported; error() says why.
    // Every call after a failure fails too.
    bool addLine(std::string_view line);
    // Commits what is pending; false when that fails (or an earlier line did).
    bool finish();

    std::size_t keys() const { return m_keys; }
    std::size_t values() const { return m_values; }
    std::size_t line() const { return m_line; }
    const std::string& error() const { return m_error; }

private:
    bool fail(std::string why);
    bool openKey(const RegKeyPath& key);
    bool commitBatch();

    StoreFor m_storeFor;
    const std::size_t m_keysPerBatch;
    RegistryStore* m_store = nullptr; // of the current key
    std::unique_ptr<WriteBatch> m_batch;
    std::size_t m_batchKeys = 0;
    RegistryKey m_key;
    RegistryKey m_parent;
    std::string m_parentPath;
    std::size_t m_keys = 0;
    std::size_t m_values = 0;
    std::size_t m_line = 0;
    std::string m_error;
};
