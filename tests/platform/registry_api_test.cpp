// The registry functions against Windows' rules: names, ordering, buffer sizes, deleted keys,
// handle rights. Every test has a fresh store of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"
#include "tests/support/test_env.h"

namespace {

constexpr BYTE kSentinel = 0xCC;
constexpr WCHAR kWideSentinel = 0xCCCC;

class RegistryTest : public ::testing::Test {
  protected:
    ~RegistryTest() override {
        NvFaultClear();
        for (HKEY key : open_) {
            RegCloseKey(key);
        }
    }

    HKEY Create(HKEY parent, const WCHAR* path, REGSAM access = KEY_ALL_ACCESS) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &key, nullptr));
        open_.push_back(key);
        return key;
    }

    HKEY Open(HKEY parent, const WCHAR* path, REGSAM access) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent, path, 0, access, &key));
        open_.push_back(key);
        return key;
    }

    static void SetString(HKEY key, const WCHAR* name, const std::u16string& text) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))));
    }

    static std::vector<std::u16string> SubKeyNames(HKEY key) {
        std::vector<std::u16string> names;
        for (DWORD i = 0;; ++i) {
            WCHAR name[256];
            DWORD length = 256;
            LONG result = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result != ERROR_SUCCESS) {
                EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
                return names;
            }
            names.emplace_back(name, length);
        }
    }

    static std::vector<std::u16string> ValueNames(HKEY key) {
        std::vector<std::u16string> names;
        for (DWORD i = 0;; ++i) {
            WCHAR name[256];
            DWORD length = 256;
            LONG result = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result != ERROR_SUCCESS) {
                EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
                return names;
            }
            names.emplace_back(name, length);
        }
    }

    nvtest::ScopedRegistry store_;
    std::vector<HKEY> open_;
};

using RegCreateKeyExTest = RegistryTest;
using RegOpenKeyExTest = RegistryTest;
using RegCloseKeyTest = RegistryTest;
using RegQueryValueExTest = RegistryTest;
using RegSetValueExTest = RegistryTest;
using RegEnumKeyExTest = RegistryTest;
using RegEnumValueTest = RegistryTest;
using RegDeleteKeyTest = RegistryTest;
using RegDeleteValueTest = RegistryTest;
using RegQueryInfoKeyTest = RegistryTest;
using RegistryAccessTest = RegistryTest;

// --- RegCreateKeyExW ---

TEST_F(RegCreateKeyExTest, CreatesIntermediateKeysAndReportsDisposition) {
    HKEY key = nullptr;
    DWORD disposition = 0xCCCCCCCC;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Norva\\Ports", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    RegCloseKey(key);
    Open(HKEY_LOCAL_MACHINE, u"SYSTEM\\Norva", KEY_READ);

    disposition = 0xCCCCCCCC;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Norva\\Ports", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    RegCloseKey(key);
}

TEST_F(RegCreateKeyExTest, NamesAreCaseInsensitiveAndKeepTheirFirstCase) {
    Create(HKEY_LOCAL_MACHINE, u"Printers\\MyPort");
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"PRINTERS\\myport", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    RegCloseKey(key);
    // Beyond ASCII too: the case mapping is the system's, not just A-Z.
    Create(HKEY_LOCAL_MACHINE, u"Printers\\\u00C4rger");
    Open(HKEY_LOCAL_MACHINE, u"printers\\\u00E4RGER", KEY_READ);

    HKEY printers = Open(HKEY_LOCAL_MACHINE, u"printers", KEY_READ);
    EXPECT_EQ((std::vector<std::u16string>{u"MyPort", u"\u00C4rger"}), SubKeyNames(printers));
    EXPECT_EQ(std::vector<std::u16string>{u"Printers"}, SubKeyNames(HKEY_LOCAL_MACHINE));
}

TEST_F(RegCreateKeyExTest, RefusesLeadingBackslashAndEmptyNamesButIgnoresTrailingBackslash) {
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\Norva", 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva\\\\Ports", 0, nullptr,
                                                  0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Norva", 0, KEY_READ, &key));
    EXPECT_TRUE(SubKeyNames(HKEY_LOCAL_MACHINE).empty());

    Create(HKEY_LOCAL_MACHINE, u"Norva\\\\");
    EXPECT_EQ(std::vector<std::u16string>{u"Norva"}, SubKeyNames(HKEY_LOCAL_MACHINE));
}

TEST_F(RegCreateKeyExTest, KeyNamesHoldAtMost255Characters) {
    std::u16string longest(255, u'k');
    std::u16string tooLong(256, u'k');
    Create(HKEY_LOCAL_MACHINE, (u"Norva\\" + longest).c_str());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"Norva\\" + tooLong).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, (u"Norva\\" + tooLong).c_str(), 0, KEY_READ, &key));
    HKEY norva = Open(HKEY_LOCAL_MACHINE, u"Norva", KEY_READ);
    EXPECT_EQ(std::vector<std::u16string>{longest}, SubKeyNames(norva));
}

// A key lies at most 512 levels below its root, counted from the root whatever handle the
// path starts from; a create beyond is ERROR_INVALID_PARAMETER and makes nothing.
TEST_F(RegCreateKeyExTest, KeysLieAtMost512LevelsDeep) {
    auto levels = [](size_t count) {
        std::u16string path = u"k";
        for (size_t i = 1; i < count; ++i) {
            path += u"\\k";
        }
        return path;
    };
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, levels(15000).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_TRUE(SubKeyNames(HKEY_LOCAL_MACHINE).empty());
    HKEY middle = Create(HKEY_LOCAL_MACHINE, levels(500).c_str());
    Create(middle, levels(12).c_str());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExW(middle, levels(13).c_str(), 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
    HKEY deepest = Open(HKEY_LOCAL_MACHINE, levels(512).c_str(), KEY_READ);
    EXPECT_TRUE(SubKeyNames(deepest).empty());
}

TEST_F(RegCreateKeyExTest, ParentOpenedForReadingMayCreate) {
    HKEY parent = Create(HKEY_LOCAL_MACHINE, u"Norva");
    HKEY reader = Open(HKEY_LOCAL_MACHINE, u"Norva", KEY_QUERY_VALUE);
    Create(reader, u"Child");
    EXPECT_EQ(std::vector<std::u16string>{u"Child"}, SubKeyNames(parent));
}

TEST_F(RegCreateKeyExTest, MissingResultIsBadKey) {
    EXPECT_EQ(ERROR_BADKEY, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, nullptr, nullptr));
}

TEST_F(RegCreateKeyExTest, TestFaultFailsTheCreateWithItsCode) {
    NvFaultSet("RegCreateKeyExW", ERROR_ACCESS_DENIED, 1);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_TRUE(SubKeyNames(HKEY_LOCAL_MACHINE).empty());
    Create(HKEY_LOCAL_MACHINE, u"Norva");  // the fault was for one call
}

// --- RegOpenKeyExW ---

TEST_F(RegOpenKeyExTest, MissingKeyIsFileNotFoundWithNullResult) {
    Create(HKEY_LOCAL_MACHINE, u"Norva");
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva\\Missing", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, nullptr));
}

TEST_F(RegOpenKeyExTest, EmptyOrNullSubKeyOpensTheSameKeyAgain) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    for (const WCHAR* subKey : {static_cast<const WCHAR*>(nullptr), u""}) {
        HKEY again = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, subKey, 0, KEY_ALL_ACCESS, &again));
        EXPECT_NE(key, again);
        SetString(again, u"Written", u"through the second handle");
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExW(key, u"Written", nullptr, nullptr, nullptr, nullptr));
    }
    // A predefined key opened again is itself.
    HKEY root = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"", 0, KEY_READ, &root));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
}

TEST_F(RegOpenKeyExTest, ForeignAndClosedHandlesAreInvalid) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(nullptr, u"Norva", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegOpenKeyExW(reinterpret_cast<HKEY>(0x4321), u"Norva", 0, KEY_READ, &key));
    HKEY closed = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Norva", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &closed, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(closed));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(closed, nullptr, 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegSetValueExW(closed, u"x", 0, REG_NONE, nullptr, 0));
}

// --- RegCloseKey ---

TEST_F(RegCloseKeyTest, ClosesOnceAndAcceptsPredefinedKeys) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
    // Still usable: closing a predefined key does nothing.
    Open(HKEY_LOCAL_MACHINE, u"Norva", KEY_READ);
}

// --- RegQueryValueExW / RegSetValueExW ---

TEST_F(RegQueryValueExTest, BufferSizeRulesAtOneShortExactAndOneOver) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(key, u"Name", u"IP_1.2.3");  // 9 characters with the terminator: 18 bytes
    const DWORD needed = 18;

    DWORD type = 0xCCCCCCCC;
    DWORD size = 0xCCCCCCCC;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(needed, size);

    for (DWORD capacity : {needed - 1, needed, needed + 1}) {
        SCOPED_TRACE(capacity);
        BYTE buffer[32];
        memset(buffer, kSentinel, sizeof buffer);
        size = capacity;
        type = 0xCCCCCCCC;
        LONG result = RegQueryValueExW(key, u"Name", nullptr, &type, buffer, &size);
        EXPECT_EQ(DWORD(REG_SZ), type);
        EXPECT_EQ(needed, size);
        if (capacity < needed) {
            EXPECT_EQ(ERROR_MORE_DATA, result);
            EXPECT_EQ(kSentinel, buffer[0]) << "a short buffer gets nothing";
        } else {
            EXPECT_EQ(ERROR_SUCCESS, result);
            EXPECT_EQ(0, memcmp(buffer, u"IP_1.2.3", needed));
        }
        for (size_t i = std::min(capacity, needed); i < sizeof buffer; ++i) {
            ASSERT_EQ(kSentinel, buffer[i]) << "written beyond the data at " << i;
        }
    }
}

TEST_F(RegQueryValueExTest, RefusesDataWithoutSizeAndReserved) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(key, u"Name", u"x");
    BYTE buffer[8];
    memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExW(key, u"Name", nullptr, nullptr, buffer, nullptr));
    EXPECT_EQ(kSentinel, buffer[0]);
    DWORD reserved = 0;
    DWORD size = sizeof buffer;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExW(key, u"Name", &reserved, nullptr, buffer, &size));
}

TEST_F(RegQueryValueExTest, MissingValueIsFileNotFoundAndTouchesNothing) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    BYTE buffer[8];
    memset(buffer, kSentinel, sizeof buffer);
    DWORD type = 0xCCCCCCCC;
    DWORD size = sizeof buffer;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExW(key, u"Missing", nullptr, &type, buffer, &size));
    EXPECT_EQ(0xCCCCCCCCu, type);
    EXPECT_EQ(DWORD(sizeof buffer), size);
    EXPECT_EQ(kSentinel, buffer[0]);
    // No default value was ever set.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegQueryValueExTest, NullAndEmptyNamesAreTheDefaultValue) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(key, nullptr, u"default");
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(DWORD(16), size);
    EXPECT_EQ(std::vector<std::u16string>{u""}, ValueNames(key));
}

TEST_F(RegQueryValueExTest, OneVariableMayReceiveTypeAndSize) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    DWORD number = 7;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Number", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), 4));
    DWORD both = 4;
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Number", nullptr, &both,
                                              reinterpret_cast<BYTE*>(&value), &both));
    EXPECT_EQ(7u, value);
}

TEST_F(RegSetValueExTest, NamesAreCaseInsensitiveAndOverwriteKeepsTheFirstName) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(key, u"PortNumber", u"1");
    SetString(key, u"PORTNUMBER", u"22");
    EXPECT_EQ(std::vector<std::u16string>{u"PortNumber"}, ValueNames(key));
    WCHAR text[8] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"portnumber", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(text), &size));
    EXPECT_EQ(std::u16string(u"22"), text);
}

TEST_F(RegSetValueExTest, EmptyDataIsAValueAndNullDataWithASizeIsRefused) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Empty", 0, REG_BINARY, nullptr, 0));
    DWORD type = 0;
    DWORD size = 0xCCCCCCCC;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Empty", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    EXPECT_EQ(0u, size);
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key, u"Bad", 0, REG_SZ, nullptr, 4));
}

TEST_F(RegSetValueExTest, ValueNamesHoldAtMost16383Characters) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    std::u16string longest(16383, u'v');
    std::u16string tooLong(16384, u'v');
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, longest.c_str(), 0, REG_NONE, nullptr, 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegSetValueExW(key, tooLong.c_str(), 0, REG_NONE, nullptr, 0));
    DWORD maxName = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &maxName, nullptr, nullptr, nullptr));
    EXPECT_EQ(16383u, maxName);
}

// --- RegEnumKeyExW ---

TEST_F(RegEnumKeyExTest, SubkeysComeInCaseInsensitiveOrder) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    for (const WCHAR* name : {u"b", u"_x", u"C", u"a", u"B2"}) {
        Create(key, name);
    }
    // Upper-cased comparison, as Windows sorts: '_' (0x5F) comes after the letters.
    EXPECT_EQ((std::vector<std::u16string>{u"a", u"b", u"B2", u"C", u"_x"}), SubKeyNames(key));
}

TEST_F(RegEnumKeyExTest, NameBufferRulesAtOneShortExactAndOneOver) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    Create(key, u"Port1");  // 5 characters, 6 with the terminator
    for (DWORD capacity : {5u, 6u, 7u}) {
        SCOPED_TRACE(capacity);
        WCHAR name[16];
        std::fill(std::begin(name), std::end(name), kWideSentinel);
        DWORD length = capacity;
        FILETIME written = {};
        LONG result = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, &written);
        if (capacity < 6) {
            EXPECT_EQ(ERROR_MORE_DATA, result);
            EXPECT_EQ(6u, length) << "the characters needed, terminator included";
            EXPECT_EQ(kWideSentinel, name[0]);
        } else {
            EXPECT_EQ(ERROR_SUCCESS, result);
            EXPECT_EQ(5u, length);
            EXPECT_EQ(std::u16string(u"Port1"), name);
            EXPECT_NE(0u, written.dwHighDateTime);
        }
        for (size_t i = std::min<size_t>(capacity, 6); i < 16; ++i) {
            ASSERT_EQ(kWideSentinel, name[i]) << "written beyond the name at " << i;
        }
    }
    WCHAR name[16];
    DWORD length = 16;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
}

// An index means what counting from the first subkey at the time of the call gives, whatever
// changed since the last call on the handle (the handle's cursor must never answer from a
// position that the changes moved).
TEST_F(RegEnumKeyExTest, IndexesFollowAddsAndDeletesBetweenCalls) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    HKEY other = Open(HKEY_LOCAL_MACHINE, u"Norva", KEY_READ);
    std::vector<std::u16string> model;  // the subkeys in case-insensitive order
    auto add = [&](const std::u16string& name) {
        Create(key, name.c_str());
        model.push_back(name);
        std::sort(model.begin(), model.end(),
                  [](const auto& a, const auto& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    };
    auto remove = [&](const std::u16string& name) {
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, name.c_str()));
        model.erase(std::find(model.begin(), model.end(), name));
    };
    auto expectAt = [&](HKEY handle, DWORD index) {
        SCOPED_TRACE(index);
        WCHAR name[64];
        DWORD length = 64;
        LONG result =
            RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (index < model.size()) {
            ASSERT_EQ(ERROR_SUCCESS, result);
            EXPECT_EQ(model[index], std::u16string(name, length));
        } else {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
        }
    };
    for (const char16_t* name : {u"c", u"A", u"e", u"b", u"D"}) {
        add(name);
    }
    expectAt(key, 0);
    expectAt(key, 1);
    remove(u"A");  // before the position
    expectAt(key, 2);
    add(u"Bb");  // between
    expectAt(key, 3);
    expectAt(key, 3);
    remove(u"e");  // the last
    expectAt(key, 4);
    expectAt(key, 1);    // back
    expectAt(key, 3);    // a jump
    expectAt(other, 2);  // a second handle keeps a position of its own
    expectAt(key, 0);
    expectAt(other, 3);
    expectAt(key, 1);

    // A name that does not fit is read again at the same index, and the next index follows it.
    add(std::u16string(40, u'L'));
    for (DWORD index = 0; index < model.size(); ++index) {
        WCHAR name[8];
        DWORD length = 8;
        LONG result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (model[index].size() >= 8) {
            EXPECT_EQ(ERROR_MORE_DATA, result);
            EXPECT_EQ(41u, length);
        }
        expectAt(key, index);
    }
}

TEST_F(RegEnumKeyExTest, KeyDeletedDuringAnEnumerationIsKeyDeleted) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva\\Gone");
    Create(key, u"a");
    Create(key, u"b");
    WCHAR name[16];
    DWORD length = 16;
    ASSERT_EQ(ERROR_SUCCESS,
              RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, u"a"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, u"b"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Gone"));
    Create(HKEY_LOCAL_MACHINE, u"Norva\\Gone\\b");  // the same names again
    length = 16;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
}

// --- RegEnumValueW ---

TEST_F(RegEnumValueTest, ValuesComeInCreationOrderAndKeepTheirPlaceWhenOverwritten) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    for (const WCHAR* name : {u"b", u"a", u"c"}) {
        SetString(key, name, u"1");
    }
    SetString(key, u"A", u"overwritten");
    EXPECT_EQ((std::vector<std::u16string>{u"b", u"a", u"c"}), ValueNames(key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"b"));
    SetString(key, u"b", u"again");
    EXPECT_EQ((std::vector<std::u16string>{u"a", u"c", u"b"}), ValueNames(key));
}

TEST_F(RegEnumValueTest, IndexesFollowChangesBetweenCalls) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    for (const WCHAR* name : {u"a", u"b", u"c", u"d"}) {
        SetString(key, name, u"1");
    }
    auto at = [&](DWORD index) {
        WCHAR name[16];
        DWORD length = 16;
        LONG result = RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        return result == ERROR_SUCCESS ? std::u16string(name, length)
                                       : u"error " + NvFromUtf8(std::to_string(result).c_str());
    };
    EXPECT_EQ(u"a", at(0));
    EXPECT_EQ(u"b", at(1));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"a"));
    EXPECT_EQ(u"d", at(2));  // b c d
    SetString(key, u"e", u"1");
    EXPECT_EQ(u"e", at(3));
    SetString(key, u"C", u"overwritten");  // keeps its place
    EXPECT_EQ(u"c", at(1));
    EXPECT_EQ(u"d", at(2));
    EXPECT_EQ(u"error 259", at(4));  // ERROR_NO_MORE_ITEMS
}

TEST_F(RegEnumValueTest, NameAndDataBufferRules) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(key, u"Queue", u"lp");  // name 5 + 1 characters, data 6 bytes

    // Name one short: nothing copied, the characters needed, the type and data size reported.
    WCHAR name[16];
    BYTE data[16];
    std::fill(std::begin(name), std::end(name), kWideSentinel);
    memset(data, kSentinel, sizeof data);
    DWORD nameLength = 5;
    DWORD type = 0xCCCCCCCC;
    DWORD dataSize = sizeof data;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, &dataSize));
    EXPECT_EQ(6u, nameLength);
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(6u, dataSize);
    EXPECT_EQ(kWideSentinel, name[0]);
    EXPECT_EQ(kSentinel, data[0]);

    // Data one short: the name is copied, the data is not.
    nameLength = 6;
    dataSize = 5;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, &dataSize));
    EXPECT_EQ(5u, nameLength);
    EXPECT_EQ(std::u16string(u"Queue"), name);
    EXPECT_EQ(6u, dataSize);
    EXPECT_EQ(kSentinel, data[0]);

    // Both exact.
    nameLength = 6;
    dataSize = 6;
    EXPECT_EQ(ERROR_SUCCESS,
              RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, &dataSize));
    EXPECT_EQ(0, memcmp(data, u"lp", 6));
    EXPECT_EQ(kSentinel, data[6]);
    EXPECT_EQ(kWideSentinel, name[6]);

    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, data, nullptr));
    nameLength = 16;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumValueW(key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
}

// --- RegDeleteKeyW ---

TEST_F(RegDeleteKeyTest, RefusesAKeyWithSubkeys) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva\\Ports\\IP_1");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Ports"));
    Open(HKEY_LOCAL_MACHINE, u"Norva\\Ports", KEY_READ);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, u""));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"norva\\ports"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Ports"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""));
}

TEST_F(RegDeleteKeyTest, ValuesGoWithTheKey) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva\\Port");
    SetString(key, u"Name", u"x");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Port"));
    HKEY again = Create(HKEY_LOCAL_MACHINE, u"Norva\\Port");
    EXPECT_TRUE(ValueNames(again).empty());
}

TEST_F(RegDeleteKeyTest, HandlesToADeletedKeyAnswerKeyDeleted) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva\\Port");
    SetString(key, u"Name", u"x");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Port"));
    // A new key of the same name must not revive the old handle.
    Create(HKEY_LOCAL_MACHINE, u"Norva\\Port");

    WCHAR name[16];
    BYTE data[16];
    DWORD length = 16;
    DWORD size = sizeof data;
    HKEY child = nullptr;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(key, u"Name", nullptr, nullptr, data, &size));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExW(key, u"Name", 0, REG_NONE, nullptr, 0));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueW(key, u"Name"));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExW(key, u"", 0, KEY_READ, &child));
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExW(key, u"Child", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &child, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteKeyW(key, u""));
}

// --- RegDeleteValueW ---

TEST_F(RegDeleteValueTest, DeletesOnceByAnyCase) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(key, u"Name", u"x");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"NAME"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, u"Name"));
    EXPECT_TRUE(ValueNames(key).empty());
}

// --- RegQueryInfoKeyW ---

TEST_F(RegQueryInfoKeyTest, CountsAndLongestNamesAndData) {
    HKEY key = nullptr;
    WCHAR keyClass[] = u"NorvaPort";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, keyClass, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    open_.push_back(key);
    Create(key, u"Short");
    Create(key, u"LongerName");
    SetString(key, u"A", u"twelve chars");  // 26 bytes
    SetString(key, u"Longest", u"x");

    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxData = 0;
    WCHAR classBuffer[16];
    std::fill(std::begin(classBuffer), std::end(classBuffer), kWideSentinel);
    DWORD classLength = 9;  // one short: the terminator does not fit
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryInfoKeyW(key, classBuffer, &classLength, nullptr, &subKeys, &maxSubKey,
                               nullptr, &values, &maxValueName, &maxData, nullptr, nullptr));
    EXPECT_EQ(9u, classLength);
    EXPECT_EQ(kWideSentinel, classBuffer[0]);
    classLength = 10;
    FILETIME written = {};
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyW(key, classBuffer, &classLength, nullptr, &subKeys, &maxSubKey,
                               nullptr, &values, &maxValueName, &maxData, nullptr, &written));
    EXPECT_EQ(std::u16string(u"NorvaPort"), classBuffer);
    EXPECT_EQ(9u, classLength);
    EXPECT_EQ(2u, subKeys);
    EXPECT_EQ(10u, maxSubKey);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(7u, maxValueName);
    EXPECT_EQ(26u, maxData);
    EXPECT_NE(0u, written.dwHighDateTime);
}

// --- Handle access rights ---

TEST_F(RegistryAccessTest, EachCallNeedsItsRightOnTheHandle) {
    HKEY full = Create(HKEY_LOCAL_MACHINE, u"Norva");
    SetString(full, u"Name", u"x");
    Create(full, u"Child");
    struct Case {
        REGSAM access;
        LONG query, set, enumValues, enumKeys, info, deleteValue;
    };
    const Case cases[] = {
        {KEY_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS,
         ERROR_ACCESS_DENIED},
        {KEY_SET_VALUE, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED,
         ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        {KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED,
         ERROR_SUCCESS, ERROR_ACCESS_DENIED},
        {KEY_ENUMERATE_SUB_KEYS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
         ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {GENERIC_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_SUCCESS,
         ERROR_SUCCESS, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.access);
        HKEY key = Open(HKEY_LOCAL_MACHINE, u"Norva", c.access);
        WCHAR name[16];
        DWORD length = 16;
        EXPECT_EQ(c.query, RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(c.set, RegSetValueExW(key, u"Other", 0, REG_NONE, nullptr, 0));
        EXPECT_EQ(c.enumValues,
                  RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        length = 16;
        EXPECT_EQ(c.enumKeys,
                  RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(c.info, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(c.deleteValue, RegDeleteValueW(key, u"Other"));
    }
}

TEST_F(RegistryAccessTest, TestFaultsFailEachFunctionByItsOwnName) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Norva");
    WCHAR name[16];
    DWORD length = 16;
    HKEY out = nullptr;
    const std::pair<const char*, std::function<LONG()>> calls[] = {
        {"RegOpenKeyExW", [&] { return RegOpenKeyExW(key, u"", 0, KEY_READ, &out); }},
        {"RegCreateKeyExW",
         [&] {
             return RegCreateKeyExW(key, u"C", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr);
         }},
        {"RegQueryValueExW",
         [&] { return RegQueryValueExW(key, u"", nullptr, nullptr, nullptr, nullptr); }},
        {"RegSetValueExW", [&] { return RegSetValueExW(key, u"", 0, REG_NONE, nullptr, 0); }},
        {"RegDeleteValueW", [&] { return RegDeleteValueW(key, u""); }},
        {"RegDeleteKeyW", [&] { return RegDeleteKeyW(key, u"C"); }},
        {"RegEnumKeyExW",
         [&] { return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
        {"RegEnumValueW",
         [&] { return RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
        {"RegQueryInfoKeyW",
         [&] {
             return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"RegCloseKey", [&] { return RegCloseKey(key); }},
    };
    for (const auto& [call, run] : calls) {
        SCOPED_TRACE(call);
        NvFaultSet(call, ERROR_REGISTRY_IO_FAILED, 1);
        EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, run());
        NvFaultClear(call);
    }
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        << "the faulted RegCloseKey must not have closed the key";
}

}  // namespace
