// The library's exported functions and the component's layout, as the platform meets them.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string_view>

#include <gtest/gtest.h>

#include "native/AddInHost.h"

namespace fr::test {
namespace {

TEST(NativeEntryPointsTest, OffersOneClassAndAnswersItsCapabilities) {
    auto& lib = TAddInLibrary::Instance();
    EXPECT_EQ(std::u16string(lib.GetClassNames()), u"fr_tarvikonline1c83");
    EXPECT_EQ(lib.GetAttachType(), eCanAttachAny);
    EXPECT_EQ(lib.SetPlatformCapabilities(eAppCapabilities3), eAppCapabilities1);
    EXPECT_EQ(lib.SetPlatformCapabilities(eAppCapabilities1), eAppCapabilities1);
    EXPECT_EQ(lib.SetPlatformCapabilities(eAppCapabilitiesInvalid), eAppCapabilitiesInvalid);
}

TEST(NativeEntryPointsTest, CreatesOnlyItsOwnClassAndDestroysWhatItCreated) {
    auto& lib = TAddInLibrary::Instance();
    IComponentBase* obj = reinterpret_cast<IComponentBase*>(&lib);  // must be overwritten
    EXPECT_EQ(lib.GetClassObject(u"NoSuchClass", &obj), 0);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(lib.GetClassObject(nullptr, &obj), 0);
    EXPECT_EQ(lib.GetClassObject(u"fr_tarvikonline1c83", nullptr), 0);

    ASSERT_NE(lib.GetClassObject(u"fr_tarvikonline1c83", &obj), 0);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(lib.DestroyObject(&obj), 0);
    EXPECT_EQ(obj, nullptr);
    EXPECT_NE(lib.DestroyObject(&obj), 0);
    EXPECT_NE(lib.DestroyObject(nullptr), 0);
}

// Each base reached at its fixed offset answers its own first operation: a base left out or
// out of order would send these calls into the wrong slots.
TEST(NativeEntryPointsTest, FourBasesSitAtTheirOffsetsInTheGivenOrder) {
    auto& lib = TAddInLibrary::Instance();
    TCountingMemory memory;
    TFakeConnection connection;
    IComponentBase* obj = nullptr;
    ASSERT_NE(lib.GetClassObject(u"fr_tarvikonline1c83", &obj), 0);

    auto* initDone = At<IInitDoneBase>(obj, kInitDoneOffset);
    auto* lang = At<ILanguageExtenderBase>(obj, kLanguageExtenderOffset);
    auto* locale = At<LocaleBase>(obj, kLocaleOffset);
    auto* user = At<UserLanguageBase>(obj, kUserLanguageOffset);

    EXPECT_TRUE(initDone->setMemManager(&memory));
    EXPECT_TRUE(initDone->Init(&connection));
    EXPECT_EQ(initDone->GetInfo(), 2000);

    char16_t* name = nullptr;
    ASSERT_TRUE(lang->RegisterExtensionAs(&name));
    EXPECT_EQ(memory.Take(name), u"fr_tarvikonline1c83");

    locale->SetLocale(u"ru_RU");
    user->SetUserInterfaceLanguageCode(u"ru");
    locale->SetLocale(nullptr);
    initDone->Done();
    EXPECT_EQ(lib.DestroyObject(&obj), 0);
    EXPECT_EQ(memory.Live(), 0u);
    EXPECT_EQ(memory.FForeignStrings, 0);
    EXPECT_TRUE(connection.FErrors.empty());
}

// The names in the archive's central directory, read without any zip tool.
std::vector<std::string> ArchiveNames(const std::string& APath) {
    std::ifstream f(APath, std::ios::binary);
    const std::string z((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) { return std::uint32_t(std::uint8_t(z.at(at))) | std::uint32_t(std::uint8_t(z.at(at + 1))) << 8; };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::size_t eocd = z.rfind(std::string("PK\x05\x06", 4));
    if (eocd == std::string::npos) return {};
    std::vector<std::string> names;
    std::size_t at = u32(eocd + 16);
    for (std::uint32_t i = 0; i < u16(eocd + 10); ++i) {
        if (u32(at) != 0x02014b50) return {};
        const std::size_t nameLen = u16(at + 28);
        names.push_back(z.substr(at + 46, nameLen));
        at += 46 + nameLen + u16(at + 30) + u16(at + 32);
    }
    return names;
}

// MANIFEST.XML first, then the Windows DLLs the build was given, then the Linux library; the
// manifest names each library it holds and no other.
TEST(NativeEntryPointsTest, ArchiveHoldsTheManifestAndTheLibrariesAtItsRoot) {
    std::vector<std::string> want;
    for (std::string_view rest = FR_ADDIN_ARCHIVE_FILES; !rest.empty();) {
        const auto bar = rest.find('|');
        want.emplace_back(rest.substr(0, bar));
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
    ASSERT_GE(want.size(), 2u);
    EXPECT_EQ(want.front(), "MANIFEST.XML");
    EXPECT_EQ(want.back(), "libfr_tarvikonline1c83.so");
    EXPECT_EQ(ArchiveNames(FR_ADDIN_ARCHIVE), want);
    std::ifstream manifest(FR_ADDIN_BUNDLE_DIR "/MANIFEST.XML");
    const std::string text((std::istreambuf_iterator<char>(manifest)), std::istreambuf_iterator<char>());
    const auto components = [&] {
        std::size_t n = 0;
        for (auto at = text.find("<component "); at != std::string::npos; at = text.find("<component ", at + 1)) ++n;
        return n;
    }();
    EXPECT_EQ(components, want.size() - 1);
    for (std::size_t i = 1; i < want.size(); ++i)
        EXPECT_NE(text.find("path=\"" + want[i] + "\""), std::string::npos) << want[i];
}

}  // namespace
}  // namespace fr::test
