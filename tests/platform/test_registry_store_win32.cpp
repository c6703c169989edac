// The registry store on Windows: text and integers round trip through the
// real registry, and values of the wrong type or shape are refused without
// being read past.
#include "RegistryStore.h"
#include "WideText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <vector>

using Platform::TRegistryResult;
using Platform::TRegistryStore;

namespace {

const char* const TestKey = "Software\\ZorbelPlatformTests\\Store";

class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, Platform::WideFromUtf8(TestKey).c_str());
        std::uint32_t error = 0;
        store = TRegistryStore::Open(TestKey, true, true, error);
        ASSERT_TRUE(store) << "the test key cannot be made: error " << error;
    }
    void TearDown() override
    {
        store.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, Platform::WideFromUtf8(TestKey).c_str());
    }

    // Stores raw bytes of any type, as another program might have.
    void PutRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Platform::WideFromUtf8(TestKey).c_str(), 0, KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::unique_ptr<TRegistryStore> store;
};

TEST_F(RegistryStore, TextRoundTrips)
{
    const std::string texts[] = {"", "COM3", "\\\\.\\COM12", "Mise à jour \"quoted\"\r\nline", std::string(20000, 'x')};
    for (const std::string& text : texts) {
        ASSERT_EQ(store->WriteString("Port", text), TRegistryResult::Ok);
        std::string back = "stale";
        ASSERT_EQ(store->ReadString("Port", back), TRegistryResult::Ok);
        EXPECT_EQ(back, text) << "a text of " << text.size() << " bytes";
    }
}

TEST_F(RegistryStore, IntegersRoundTrip)
{
    for (const std::int32_t number : {0, 1, -1, 115200, INT_MIN, INT_MAX}) {
        ASSERT_EQ(store->WriteInteger("BaudRate", number), TRegistryResult::Ok);
        std::int32_t back = 12345;
        ASSERT_EQ(store->ReadInteger("BaudRate", back), TRegistryResult::Ok);
        EXPECT_EQ(back, number);
    }
}

TEST_F(RegistryStore, MissingValuesAreMissingAndLeaveTheResultAlone)
{
    std::string text = "kept";
    std::int32_t number = 7;
    EXPECT_EQ(store->ReadString("Nothing", text), TRegistryResult::Missing);
    EXPECT_EQ(store->ReadInteger("Nothing", number), TRegistryResult::Missing);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(number, 7);
    ASSERT_EQ(store->WriteInteger("Gone", 1), TRegistryResult::Ok);
    ASSERT_EQ(store->DeleteValue("Gone"), TRegistryResult::Ok);
    EXPECT_EQ(store->ReadInteger("Gone", number), TRegistryResult::Missing);
}

TEST_F(RegistryStore, ValuesOfTheWrongTypeOrShapeAreRefused)
{
    const DWORD number = 5;
    const unsigned long long wide = 5;
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const std::vector<wchar_t> huge(TRegistryStore::MaxTextBytes, L'x');
    PutRaw(L"Dword", REG_DWORD, &number, sizeof number);
    PutRaw(L"Qword", REG_QWORD, &wide, sizeof wide);
    PutRaw(L"ShortDword", REG_DWORD, &number, 2);
    PutRaw(L"Binary", REG_BINARY, "abc", 3);
    PutRaw(L"Unterminated", REG_SZ, unterminated, sizeof unterminated);
    PutRaw(L"OddSize", REG_SZ, L"ab", 5);
    PutRaw(L"Expand", REG_EXPAND_SZ, L"%PATH%", 14);
    PutRaw(L"Huge", REG_SZ, huge.data(), static_cast<DWORD>(huge.size() * sizeof(wchar_t)));
    PutRaw(L"Text", REG_SZ, L"abc", 8);
    for (const char* name : {"Dword", "Qword", "Binary", "OddSize", "Expand", "Huge"}) {
        std::string text = "kept";
        EXPECT_EQ(store->ReadString(name, text), TRegistryResult::WrongType) << name << " read as text";
        EXPECT_EQ(text, "kept") << name;
    }
    for (const char* name : {"Qword", "ShortDword", "Binary", "Text", "Expand"}) {
        std::int32_t value = 7;
        EXPECT_EQ(store->ReadInteger(name, value), TRegistryResult::WrongType) << name << " read as an integer";
        EXPECT_EQ(value, 7) << name;
    }
    std::string text;
    ASSERT_EQ(store->ReadString("Unterminated", text), TRegistryResult::Ok);
    EXPECT_EQ(text, "abc") << "a text stored without its NUL ends at its stored size";
}

TEST_F(RegistryStore, AReadOnlyKeyRefusesWritesAndKeepsItsValues)
{
    ASSERT_EQ(store->WriteString("Port", "COM3"), TRegistryResult::Ok);
    std::uint32_t error = 0;
    const auto readOnly = TRegistryStore::Open(TestKey, false, false, error);
    ASSERT_TRUE(readOnly) << "error " << error;
    EXPECT_EQ(readOnly->WriteString("Port", "COM9"), TRegistryResult::Failed);
    EXPECT_EQ(readOnly->Error(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    std::string back;
    ASSERT_EQ(readOnly->ReadString("Port", back), TRegistryResult::Ok);
    EXPECT_EQ(back, "COM3");
}

TEST_F(RegistryStore, AMissingKeyDoesNotOpenWithoutCreating)
{
    std::uint32_t error = 0;
    EXPECT_FALSE(TRegistryStore::Open("Software\\ZorbelPlatformTests\\NoSuchKey", false, false, error));
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

} // namespace
