// dsreg: the operator's and support's view of the settings store.
//
//   dsreg list   KEY                 subkeys and values of KEY
//   dsreg query  KEY [VALUE]         one value, or every value of KEY
//   dsreg set    KEY VALUE sz|dword DATA
//   dsreg delete KEY [VALUE]         a value, or a key without subkeys
//   dsreg export KEY                 the subtree below KEY as text
//   dsreg import FILE                that text read back ("-": standard input)
//
// KEY starts with its root, HKCU or HKLM (or HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE), then names separated by "\". String data is shown
// with C escapes for bytes that are not printable, so stored lengths and
// terminating zeros are visible. Import creates missing keys and sets the
// values it reads, one transaction per 10,000 keys (RegistryImport.h).
#include "platform/registry/RegistryImport.h"
#include "platform/registry/RegistryStore.h"
#include "platform/registry/RegistryText.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

int usage() {
    std::fputs("usage: dsreg list|query|set|delete|export KEY [VALUE [sz|dword DATA]]\n"
               "       dsreg import FILE\n"
               "KEY: HKCU\\path or HKLM\\path; the store folder is $DIALSCOPE_REGISTRY_DIR when set\n",
               stderr);
    return 2;
}

struct Target {
    RegistryRoot root;
    std::string path;
};

bool parseKey(std::string_view text, Target& target) {
    size_t slash = text.find('\\');
    std::string_view root = text.substr(0, slash);
    if (root == "HKCU" || root == "HKEY_CURRENT_USER")
        target.root = RegistryRoot::CurrentUser;
    else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE")
        target.root = RegistryRoot::LocalMachine;
    else
        return false;
    target.path = slash == std::string_view::npos ? std::string() : std::string(text.substr(slash + 1));
    return true;
}

// A DWORD given in decimal, as 0x hex, or as a negative 32-bit number.
std::optional<uint32_t> parseDword(const char* text) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > int64_t(UINT32_MAX))
        return std::nullopt;
    return uint32_t(value);
}

void printValues(const RegistryKey& key) {
    for (const NamedValue& v : key.values())
        std::printf("  \"%s\" = %s\n", escapeRegText(v.name).c_str(), describeRegValue(v.value).c_str());
}

void exportTree(const RegistryKey& key, const std::string& path) {
    std::printf("[%s]\n", path.c_str());
    printValues(key);
    std::printf("\n");
    auto count = key.subkeyCount();
    for (uint32_t i = 0; count && i < *count; ++i) {
        auto name = key.subkeyName(i);
        if (!name)
            continue;
        if (RegistryKey child = key.openSubkey(*name))
            exportTree(child, path + "\\" + *name);
    }
}

// Reads `file` ("-": standard input) into the stores of the roots it names.
int importText(const char* file) {
    std::ifstream opened;
    std::istream* in = &std::cin;
    if (std::string_view(file) != "-") {
        opened.open(file, std::ios::binary);
        if (!opened) {
            std::fprintf(stderr, "dsreg: cannot read %s\n", file);
            return 1;
        }
        in = &opened;
    }
    std::unique_ptr<RegistryStore> stores[2];
    RegistryImport import([&stores](RegistryRoot root) {
        std::unique_ptr<RegistryStore>& store = stores[root == RegistryRoot::CurrentUser ? 0 : 1];
        if (!store)
            store = std::make_unique<RegistryStore>(RegistryStore::defaultPath(root));
        return store.get();
    });
    std::string line;
    while (std::getline(*in, line))
        if (!import.addLine(line))
            break;
    if (!import.finish()) {
        std::fprintf(stderr, "dsreg: %s:%zu: %s\n", file, import.line(), import.error().c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    RegistryStore::setWarningSink([](const char* message) { std::fprintf(stderr, "%s\n", message); });
    if (argc < 3)
        return usage();
    std::string_view command = argv[1];
    if (command == "import")
        return argc == 3 ? importText(argv[2]) : usage();
    Target target;
    if (!parseKey(argv[2], target))
        return usage();
    if (command != "list" && command != "query" && command != "set" && command != "delete" &&
        command != "export")
        return usage();
    // Check a write's arguments before anything is created.
    RegValue newValue;
    if (command == "set") {
        if (argc != 6)
            return usage();
        std::string_view type = argv[4];
        if (type == "sz") {
            newValue = RegValue::fromString(argv[5]);
        } else if (auto dword = parseDword(argv[5]); type == "dword" && dword) {
            newValue = RegValue::fromDword(*dword);
        } else {
            return usage();
        }
    }

    // Looking at a store never creates one; only "set" may.
    const std::string path = RegistryStore::defaultPath(target.root);
    if (path.empty()) {
        std::fprintf(stderr, "dsreg: no folder for the settings store: set HOME or XDG_CONFIG_HOME\n");
        return 2;
    }
    RegistryStore store(path, command == "set" ? RegistryStore::OpenMode::CreateIfMissing
                                               : RegistryStore::OpenMode::ExistingOnly);
    if (!store.usable()) {
        std::fprintf(stderr, "dsreg: cannot read %s\n", store.filePath().c_str());
        return 1;
    }

    if (command == "set") {
        RegistryKey key = store.createKey(target.path);
        bool ok = key && key.setValue(argv[3], newValue);
        if (!ok)
            std::fprintf(stderr, "dsreg: cannot write %s\n", store.filePath().c_str());
        return ok ? 0 : 1;
    }
    if (command == "delete") {
        bool ok;
        if (argc == 4)
            ok = store.openKey(target.path).deleteValue(argv[3]);
        else
            ok = store.deleteKey(target.path);
        if (!ok)
            std::fprintf(stderr, "dsreg: not deleted (missing, has subkeys, or store read-only)\n");
        return ok ? 0 : 1;
    }

    RegistryKey key = store.openKey(target.path);
    if (!key) {
        std::fprintf(stderr, "dsreg: no key %s\n", argv[2]);
        return 1;
    }
    if (command == "list") {
        auto count = key.subkeyCount();
        for (uint32_t i = 0; count && i < *count; ++i)
            if (auto name = key.subkeyName(i))
                std::printf("%s\\\n", name->c_str());
        printValues(key);
        return 0;
    }
    if (command == "query") {
        if (argc == 4) {
            auto v = key.queryValue(argv[3]);
            if (!v) {
                std::fprintf(stderr, "dsreg: no value %s\n", argv[3]);
                return 1;
            }
            std::printf("%s\n", describeRegValue(*v).c_str());
        } else {
            printValues(key);
        }
        return 0;
    }
    if (command == "export") {
        exportTree(key, argv[2]);
        return 0;
    }
    return usage();
}
