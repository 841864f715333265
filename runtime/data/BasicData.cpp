#include "runtime/data/BasicData.h"

#include <algorithm>
#include <cstdio>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"

Game_BasicData TheBasicData;

namespace {

template <typename T>
void GrowTo(std::vector<T>& list, std::int32_t count) {
    if (count > 0 && list.size() < static_cast<std::size_t>(count)) {
        list.resize(static_cast<std::size_t>(count));
    }
}

// Replaces the "%s" markers of `format` in order.
std::string FormatTexts(const std::string& format, std::initializer_list<std::string> values) {
    std::string out;
    std::size_t from = 0;
    for (const std::string& value : values) {
        const std::size_t at = format.find("%s", from);
        if (at == std::string::npos) break;
        out += format.substr(from, at - from) + value;
        from = at + 2;
    }
    return out + format.substr(from);
}

std::string VersionText(int version) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", version / 100, version % 100);
    return text;
}

}  // namespace

Game_BasicData::Game_BasicData() {
    SetDefaults();
}

void Game_BasicData::SetDefaults() {
    settingBytes.assign(35, 0);
    const std::uint8_t bytes[35] = {32, 8, 8, 1, 60, 1, 0, 3, 0, 0, 0, 6, 6, 0, 0, 4, 4, 1,
                                    0,  1, 0, 0, 1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    std::copy(std::begin(bytes), std::end(bytes), settingBytes.begin());
    // Numbers 1..14 are two sets of seven step sizes: 1,1,2,2,...,64,64.
    settingNumbers.assign(22, 0);
    for (int s = 0; s < 7; ++s) {
        settingNumbers[1 + 2 * s] = static_cast<std::int16_t>(1 << s);
        settingNumbers[2 + 2 * s] = static_cast<std::int16_t>(1 << s);
    }
    settingNumbers[15] = 10000;
    settingNumbers[16] = 640;
    settingNumbers[17] = 480;
    settingNumbers[18] = 314;
    settingTexts.assign(13, std::string());
    settingTexts[0] = TranslateMessageUtf8(u"新規ゲーム名");
    utf8 = -1;
}

int ReadBasicData(const std::string& path, bool showMessages, Game_BasicData& data) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(path, bytes)) {
        if (showMessages) {
            GetDataFileServices().showMessageBox(
                FormatTexts(
                    TranslateMessageUtf8(
                        u"基本情報データ %s が見つかりません。\r\n\r\n以下のどちらかの理由が考えら"
                        u"れます。\r\n\r\n・ファイルが存在しない。\r\n・暗号化ファイルとGame.exeの"
                        u"バージョンが異なる。"),
                    {path}),
                TranslateMessageUtf8(u"読み込みエラー"));
        }
        return 0;
    }
    TheDataFileBuffer.Load(std::move(bytes));
    const int result = ParseBasicData(data, path, showMessages);
    TheDataFileBuffer.Release();
    return result;
}

int ParseBasicData(Game_BasicData& data, const std::string& path, bool showMessages) {
    DataFileBuffer& b = TheDataFileBuffer;
    auto damaged = [&] {
        HandleDamagedDataFile(path);
        return 0;
    };
    ScrambledHeader header;
    if (!ReadShortHeader(b, kBasicDataHeader, header)) return damaged();
    data.utf8 = header.utf8 ? 1 : 0;

    const std::int32_t byteCount = b.ReadCount(1);
    GrowTo(data.settingBytes, byteCount);
    for (std::int32_t i = 0; i < byteCount; ++i) data.settingBytes[i] = b.ReadByte();
    if (b.damaged) return damaged();

    // The character set decides the code page of the texts that follow, and every set other
    // than Japanese (any value of 2 or more) forces English. A set outside the locale table reads
    // its text in the default code page, that of set 1.
    const std::int32_t charSet = data.settingBytes[17];
    GameCharSetIndex = charSet >= 1 && charSet < kGameCharSetCount ? charSet : 1;
    UiLanguage = charSet >= 2 ? 1 : data.settingBytes[20];

    const std::int32_t textCount = b.ReadCount(4);
    GrowTo(data.settingTexts, textCount);
    for (std::int32_t i = 0; i < textCount && !b.damaged; ++i) {
        data.settingTexts[i] = b.ReadString(kBasicDataTextLimit);
    }
    const std::int32_t versionOffset = b.ReadInt32();
    b.Skip(4);
    const std::int32_t numberCount = b.ReadCount(2);
    GrowTo(data.settingNumbers, numberCount);
    for (std::int32_t i = 0; i < numberCount; ++i) data.settingNumbers[i] = b.ReadInt16();
    if (b.damaged) return damaged();

    if (showMessages && data.settingNumbers[18] > kRuntimeDataVersion) {
        GetDataFileServices().showMessageBox(
            FormatTexts(TranslateMessageUtf8(
                            u"編集されたゲームデータのバージョンよりGame.exeのバージョンの方が\r\n"
                            u"古いため、クラッシュする可能性があります。\r\nその場合は新しいGame."
                            u"exeを使用してください。\r\n\r\nゲームデータのバージョン:%s\r\nGame."
                            u"exeのバージョン:%s"),
                        {VersionText(data.settingNumbers[18]), VersionText(kRuntimeDataVersion)}),
            TranslateMessageUtf8(u"エラー"));
    }
    b.Skip(8);
    if (b.damaged || versionOffset < 0 || static_cast<std::size_t>(versionOffset) >= b.Size()) {
        return damaged();
    }
    b.position = versionOffset;
    const std::uint8_t version = b.ReadByte();
    if (version != 0xC2 && version != 0xC3) {
        GetDataFileServices().reportRuntimeError(
            TranslateMessageUtf8(u"基本情報データ Game.dat "
                                 u"が破損しているか、この実行ファイルが古くて読み込めません"),
            "", "");
        return 0;
    }

    // Corrections.
    for (int i = 1; i <= 14; ++i) {
        if (data.settingNumbers[i] < 1) data.settingNumbers[i] = 1;
    }
    data.settingNumbers[16] = std::clamp<std::int16_t>(data.settingNumbers[16], 100, 1920);
    data.settingNumbers[17] = std::clamp<std::int16_t>(data.settingNumbers[17], 100, 1440);
    if (data.settingBytes[21] == 0) {
        data.settingNumbers[16] = static_cast<std::int16_t>(20 * data.settingBytes[0]);
        data.settingNumbers[17] = static_cast<std::int16_t>(15 * data.settingBytes[0]);
    }
    if (data.utf8 == 0 && data.settingNumbers[15] >= 10000) data.settingNumbers[15] = 229;
    return 1;
}
