// Finding an entry's item in a real sorted list box: the quick lookup must
// give what the list box's own search from ListSearchIndex gives, for any
// archive order, repeated names in any case, and hints that are wrong.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "extract/SFXlist.h"
#include "import_slot.h"
#include "startup/SFXstate.h"
#include "win_files.h"

extern "C" LRESULT(WINAPI* __imp_SendMessageW)(HWND, UINT, WPARAM, LPARAM);

namespace {

// Items that the list box compared in the searches of the lookup under test.
int64_t ItemsCompared;
decltype(__imp_SendMessageW) RealSendMessageW;

LRESULT WINAPI CountingSendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = RealSendMessageW(window, message, wParam, lParam);
    if (message == LB_FINDSTRINGEXACT) {
        // The search goes from the item after wParam round to the match.
        int64_t items = RealSendMessageW(window, LB_GETCOUNT, 0, 0);
        int64_t start = (int64_t)(INT_PTR)wParam + 1;
        if (start < 0 || start >= items)
            start = 0;
        ItemsCompared += result < 0 ? items : (result - start + items) % items + 1;
    }
    return result;
}

// The file list's styles: sorted, with strings, several selected at once.
class FileList {
public:
    FileList()
    {
        list_ = CreateWindowExW(0, L"LISTBOX", L"", WS_POPUP | LBS_SORT | LBS_HASSTRINGS | LBS_MULTIPLESEL, 0, 0,
                                200, 200, 0, 0, GetModuleHandleA(0), 0);
    }
    ~FileList() { DestroyWindow(list_); }
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    HWND Handle() const { return list_; }

private:
    HWND list_;
};

void List(HWND list, const std::vector<std::string>& names)
{
    BeginListing(list);
    for (const std::string& name : names)
        AddEntryItem(list, Wide(name).c_str());
}

// Looks every name up in walk order, as the extraction does, beside the
// list box's own search; true when every item agrees.
::testing::AssertionResult LookupsAgree(HWND list, const std::vector<std::string>& walk)
{
    BeginItemLookup(list);
    int32_t expected = -1;
    ListSearchIndex = -1;
    for (size_t i = 0; i < walk.size(); i++) {
        std::wstring name = Wide(walk[i]);
        expected = (int32_t)SendMessageW(list, LB_FINDSTRINGEXACT, (WPARAM)expected, (LPARAM)name.c_str());
        int32_t found;
        {
            ImportSlot<decltype(__imp_SendMessageW)> slot(&__imp_SendMessageW, CountingSendMessageW);
            RealSendMessageW = slot.Original();
            found = FindEntryItem(list, name.c_str(), true);
        }
        if (found != expected) {
            EndItemLookup();
            return ::testing::AssertionFailure() << "entry " << i << " \"" << walk[i] << "\": item " << found
                                                 << ", the list box finds " << expected;
        }
        ListSearchIndex = found;
    }
    EndItemLookup();
    return ::testing::AssertionSuccess();
}

// Names with many repeats, in several cases, among unique ones.
std::vector<std::string> Names(std::mt19937& random, size_t count, size_t distinct)
{
    // Cases folded beyond ASCII too: the list box compares as the system does.
    static const char* const stems[] = {"a.txt", "A.TXT", "docs/readme", "DOCS/README", "\xC3\xA9t\xC3\xA9",
                                        "\xC3\x89T\xC3\x89", "\xD0\xB4\xD0\xBE\xD0\xBC", "\xD0\x94\xD0\x9E\xD0\x9C"};
    std::vector<std::string> names;
    for (size_t i = 0; i < count; i++) {
        size_t pick = random() % (distinct + 8);
        names.push_back(pick < 8 ? stems[pick] : "f" + std::to_string(pick * 7919 % 100003) + ".dat");
    }
    return names;
}

TEST(ListLookup, AgreesWithTheListBoxForAnyOrder)
{
    FileList list;
    ASSERT_NE(list.Handle(), (HWND)0);
    std::mt19937 random(7);
    for (int round = 0; round < 60; round++) {
        size_t count = 1 + random() % 120;
        std::vector<std::string> names = Names(random, count, round % 3 == 0 ? 4 : 200);
        switch (round % 4) {
        case 1:
            std::sort(names.begin(), names.end());
            break;
        case 2:
            std::sort(names.rbegin(), names.rend());
            break;
        default:
            break;                               // as drawn
        }
        List(list.Handle(), names);
        EXPECT_TRUE(LookupsAgree(list.Handle(), names)) << "round " << round;
    }
}

TEST(ListLookup, ComparesAFewItemsPerEntry)
{
    // 3,000 names in an order other than the list's, where the list box's
    // own search from the previous match compares half the list each time.
    FileList list;
    std::vector<std::string> names;
    for (int i = 0; i < 3000; i++)
        names.push_back("folder" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".txt");
    std::shuffle(names.begin(), names.end(), std::mt19937(3));
    List(list.Handle(), names);
    ItemsCompared = 0;
    ASSERT_TRUE(LookupsAgree(list.Handle(), names));
    EXPECT_LE(ItemsCompared, 6 * (int64_t)names.size());
}

TEST(ListLookup, WrongHintsFallBackToTheFullSearch)
{
    FileList list;
    std::mt19937 random(11);
    std::vector<std::string> names = Names(random, 80, 30);
    List(list.Handle(), names);

    std::vector<std::string> other = names;       // the hints point elsewhere
    std::shuffle(other.begin(), other.end(), random);
    EXPECT_TRUE(LookupsAgree(list.Handle(), other));

    other.insert(other.begin() + 10, "not listed");   // and now and then nowhere
    other.push_back("no such entry");
    EXPECT_TRUE(LookupsAgree(list.Handle(), other));
}

// Names that cannot be decoded are shown approximately and may come out
// alike ("?.txt" for two different names); the search by text would give
// the second entry the first one's item. Each entry finds the item listed
// for it.
TEST(ListLookup, NamesShownApproximatelyFindTheirOwnItems)
{
    FileList list;
    const std::vector<std::string> walk = {"?.txt", "a.txt", "?.txt", "??", "b.txt", "??"};
    List(list.Handle(), walk);
    BeginItemLookup(list.Handle());
    ListSearchIndex = -1;
    std::vector<bool> taken(walk.size(), false);
    for (size_t i = 0; i < walk.size(); i++) {
        bool exact = walk[i].find('?') == std::string::npos;
        int32_t found = FindEntryItem(list.Handle(), Wide(walk[i]).c_str(), exact);
        ASSERT_GE(found, 0) << "entry " << i;
        EXPECT_EQ(SendMessageW(list.Handle(), LB_GETITEMDATA, (WPARAM)found, 0), (LRESULT)i) << "entry " << i;
        EXPECT_FALSE(taken[(size_t)found]) << "entry " << i;
        taken[(size_t)found] = true;
        ListSearchIndex = found;
    }
    EndItemLookup();
}

TEST(ListLookup, AnEmptyOrUnlistedListSearchesTheSlowWay)
{
    FileList list;
    List(list.Handle(), {});
    EXPECT_TRUE(LookupsAgree(list.Handle(), {"a", "b"}));

    // Items added without the listing carry no place in the walk.
    for (const char* name : {"c", "a", "b", "a"})
        SendMessageW(list.Handle(), LB_ADDSTRING, 0, (LPARAM)Wide(name).c_str());
    EXPECT_TRUE(LookupsAgree(list.Handle(), {"a", "a", "b", "c", "a"}));
}

}  // namespace
