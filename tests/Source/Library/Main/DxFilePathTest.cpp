#include <gtest/gtest.h>

#include <string>

#include "Main/DxFile.h"

namespace {

using ZiDaz::MakeFullPath;

std::u16string Full(const char16_t* path, const char16_t* base, std::size_t bytes = 2048) {
    char16_t out[1024];
    for (char16_t& c : out) c = u'#';
    EXPECT_EQ(MakeFullPath(path, out, bytes, base), 0);
    return out;
}

TEST(MakeFullPath, ResolvesAgainstTheBase) {
    struct Case {
        const char16_t* path;
        const char16_t* base;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"data\\map.dat", u"C:\\game", u"C:\\game\\data\\map.dat"},
        {u"data/./x/../map.dat", u"C:\\game", u"C:\\game\\data\\map.dat"},
        {u"data\\map.dat", u"C:\\game\\", u"C:\\game\\data\\map.dat"},
        {u"\\other\\x.txt", u"D:\\game", u"D:\\other\\x.txt"},
        {u"E:x.txt", u"C:\\game", u"E:\\x.txt"},
        {u"E:\\a\\..\\b", u"C:\\game", u"E:\\b"},
        {u"C:\\a\\..", u"C:\\game", u"C:\\a\\.."},
        {u"\\\\server\\share\\f", u"C:\\game", u"\\server\\share\\f"},
        {u"C:\\..\\..\\x", u"C:\\game", u"C:\\x"},  // the drive is never removed
        {u"a//b\\\\c", u"C:\\g", u"C:\\g\\a\\b\\c"},
        {u"a/b/", u"C:\\g", u"C:\\g\\a\\b"},
        {u"ab1:\\x", u"C:\\g", u"ab1:\\x"},
        {u"\xD840\xDC00:\\x", u"C:\\g", u"\xD840\xDC00:\\x"},  // a drive run with a surrogate pair
        {u"", u"C:\\g", u"C:\\g"},
        // Host folders without drives: a rooted path starts at the root and ".." stops there.
        {u"Data\\BasicData\\Game.dat", u"/home/u/game", u"/home/u/game\\Data\\BasicData\\Game.dat"},
        {u"\\etc\\x", u"/home/u", u"\\etc\\x"},
        {u"../../../../x", u"/home/u", u"/x"},
        {u"../x", u"/", u"/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(c.expected, c.expected + std::char_traits<char16_t>::length(c.expected)));
        EXPECT_EQ(Full(c.path, c.base), c.expected);
    }
    EXPECT_EQ(Full(nullptr, u"C:\\base"), u"C:\\base");
}

TEST(MakeFullPath, StaysInsideTheOutputBuffer) {
    char16_t out[16];
    for (char16_t& c : out) c = u'#';
    MakeFullPath(u"aaaa\\bbbb\\cccc\\dddd", out, 10 * 2, u"C:\\base");
    EXPECT_EQ(std::u16string(out), u"C:\\base\\a");  // 9 units and the terminator
    EXPECT_EQ(out[10], u'#');
    for (char16_t& c : out) c = u'#';
    MakeFullPath(u"x", out, 2, u"C:\\base");
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], u'#');
}

TEST(SplitPath, AtLastSeparatorAndExtension) {
    char16_t name[64], folder[64];
    ZiDaz::SplitPathAtLastSeparator(u"a/b\\c.txt", name, sizeof name, folder, sizeof folder);
    EXPECT_EQ(std::u16string(name), u"c.txt");
    EXPECT_EQ(std::u16string(folder), u"a/b");
    ZiDaz::SplitPathAtLastSeparator(u"c.txt", name, sizeof name, folder, sizeof folder);
    EXPECT_EQ(std::u16string(name), u"c.txt");
    EXPECT_EQ(std::u16string(folder), u"");
    ZiDaz::SplitPathAtLastSeparator(u"C:x", name, sizeof name, nullptr, 0);
    EXPECT_EQ(std::u16string(name), u"x");
    ZiDaz::SplitPathAtLastSeparator(u"dir\\longname", name, 4 * 2, folder, 2 * 2);
    EXPECT_EQ(std::u16string(name), u"lon");
    EXPECT_EQ(std::u16string(folder), u"d");

    char16_t base[64], extension[64];
    ZiDaz::SplitBaseNameAndExtension(u"dir\\movie.data.ogv", base, sizeof base, extension,
                                     sizeof extension);
    EXPECT_EQ(std::u16string(base), u"movie.data");
    EXPECT_EQ(std::u16string(extension), u"ogv");
    ZiDaz::SplitBaseNameAndExtension(u"x.y\\noext", base, sizeof base, extension, sizeof extension);
    EXPECT_EQ(std::u16string(base), u"noext");
    EXPECT_EQ(std::u16string(extension), u"");
    std::u16string longName(400, u'n');
    ZiDaz::SplitBaseNameAndExtension((longName + u".ext").c_str(), base, sizeof base, nullptr, 0);
    EXPECT_EQ(std::u16string(base).size(), 63u);
}

}  // namespace
