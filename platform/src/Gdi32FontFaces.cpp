// gdi32's faces over fontconfig: which installed face a font's settings resolve to, the Windows
// face names that stand for free faces, EnumFontFamiliesExW, and the fonts a process registers
// for itself (AddFontResourceExW, AddFontMemResourceEx) as fontconfig application fonts.
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Gdi32FontInternal.h"
#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::gdi::font {

namespace {

struct FaceAlias {
    const char* windowsName;
    const char* freeFace;
};
#include "FontFaceNames.inc"

struct PrivateFont {
    std::uintptr_t id = 0;   // AddFontMemResourceEx handle; 0 for a font file
    std::string file;        // as registered with fontconfig
    std::string source;      // AddFontResourceExW's path as resolved on this machine
    bool temporary = false;  // a memory font written out for fontconfig; removed with it
    int count = 0;           // registrations of the same file
};

struct State {
    FcConfig* config = nullptr;
    FT_Library library = nullptr;
    std::vector<PrivateFont> privateFonts;
    std::string tempFolder;
    std::uintptr_t nextId = 0x7e000;
    int tempCounter = 0;
};

void ReleaseAtExit();

State& Fonts() {
    static State* state = [] {
        auto* s = new State;
        s->config = FcInitLoadConfigAndFonts();
        if (s->config != nullptr) {
            FcConfigParseAndLoadFromMemory(
                s->config, reinterpret_cast<const FcChar8*>(kFaceAliasConfig), FcTrue);
        }
        FT_Init_FreeType(&s->library);
        std::atexit(&ReleaseAtExit);
        return s;
    }();
    return *state;
}

// fontconfig's configuration and caches are given back at exit (so that leak checkers see none),
// and the files of memory fonts are removed.
void ReleaseAtExit() {
    std::lock_guard guard(Lock());
    State& s = Fonts();
    for (const PrivateFont& f : s.privateFonts) {
        if (f.temporary) unlink(f.file.c_str());
    }
    s.privateFonts.clear();
    if (!s.tempFolder.empty()) rmdir(s.tempFolder.c_str());
    if (s.config != nullptr) {
        FcConfigDestroy(s.config);
        s.config = nullptr;
        FcFini();
    }
}

std::string Utf8(const char16_t* text, int maxUnits) {
    std::u16string wide;
    for (int i = 0; i < maxUnits && text[i] != 0; ++i) wide.push_back(text[i]);
    std::string out;
    Utf16ToUtf8(wide, out);
    return out;
}

// Whether every face of a font file is one FreeType can load as a scalable face.
int CountLoadableFaces(const std::string& file) {
    FT_Face face = nullptr;
    if (FT_New_Face(Library(), file.c_str(), -1, &face) != 0) return 0;
    long faces = face->num_faces;
    FT_Done_Face(face);
    if (faces <= 0 || faces > 64) return 0;
    for (long i = 0; i < faces; ++i) {
        if (FT_New_Face(Library(), file.c_str(), i, &face) != 0) return 0;
        bool ok = FT_IS_SCALABLE(face) && face->num_glyphs > 0 && face->units_per_EM > 0;
        FT_Done_Face(face);
        if (!ok) return 0;
    }
    return static_cast<int>(faces);
}

// fontconfig keeps no way to drop one application font: the set is rebuilt from what is left.
void RebuildApplicationFonts(State& s) {
    if (s.config == nullptr) return;
    FcConfigAppFontClear(s.config);
    for (const PrivateFont& f : s.privateFonts) {
        FcConfigAppFontAddFile(s.config, reinterpret_cast<const FcChar8*>(f.file.c_str()));
    }
}

bool HasLanguage(FcPattern* font, const std::string& lang) {
    if (lang.empty()) return true;
    FcLangSet* langs = nullptr;
    if (FcPatternGetLangSet(font, FC_LANG, 0, &langs) != FcResultMatch) return false;
    return FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>(lang.c_str())) !=
           FcLangDifferentLang;
}

bool IsCjk(FcPattern* font) {
    for (const char* lang : {"ja", "ko", "zh-cn", "zh-tw"}) {
        if (HasLanguage(font, lang)) return true;
    }
    return false;
}

struct Listed {
    std::string name;
    std::string style;
    BYTE charSet;
    bool fixedPitch;
};

FcFontSet* ListScalable(State& s, const char* family) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (family) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, FC_STYLE, FC_LANG, FC_SPACING,
                                            FC_FILE, FC_INDEX, nullptr);
    FcFontSet* set = FcFontList(s.config, pattern, objects);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return set;
}

BYTE EnumeratedCharSet(FcPattern* font, BYTE asked) {
    if (asked != DEFAULT_CHARSET) return asked;
    if (HasLanguage(font, "ja")) return SHIFTJIS_CHARSET;
    if (HasLanguage(font, "ko")) return HANGUL_CHARSET;
    if (HasLanguage(font, "zh-cn")) return GB2312_CHARSET;
    if (HasLanguage(font, "zh-tw")) return CHINESEBIG5_CHARSET;
    return ANSI_CHARSET;
}

// The faces EnumFontFamiliesExW reports for a face name (empty: every face) and character set.
std::vector<Listed> ListFaces(State& s, std::string face, BYTE charSet) {
    std::vector<Listed> out;
    if (s.config == nullptr) return out;
    bool vertical = !face.empty() && face[0] == '@';
    if (vertical) face.erase(0, 1);
    std::string lang = charSet == DEFAULT_CHARSET ? std::string() : CharSetLanguage(charSet);
    auto add = [&](const std::string& name, FcPattern* font) {
        FcChar8* style = nullptr;
        FcPatternGetString(font, FC_STYLE, 0, &style);
        int spacing = FC_PROPORTIONAL;
        FcPatternGetInteger(font, FC_SPACING, 0, &spacing);
        Listed item{name, style ? reinterpret_cast<const char*>(style) : "",
                    EnumeratedCharSet(font, charSet), spacing >= FC_MONO};
        auto same = [&](const Listed& l) { return l.name == item.name; };
        if (std::none_of(out.begin(), out.end(), same)) out.push_back(item);
        // Vertical-writing variants of East Asian faces, as Windows lists them.
        if (face.empty() && IsCjk(font)) {
            item.name = "@" + name;
            if (std::none_of(out.begin(), out.end(), same)) out.push_back(item);
        }
    };
    FcFontSet* set = ListScalable(s, nullptr);
    for (int i = 0; set && i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        if (!HasLanguage(font, lang)) continue;
        FcChar8* family = nullptr;
        if (face.empty()) {
            // The family name in the listed language when the font has one, else its first.
            int pick = 0;
            FcChar8* familyLang = nullptr;
            for (int n = 0;
                 FcPatternGetString(font, FC_FAMILYLANG, n, &familyLang) == FcResultMatch; ++n) {
                if (!lang.empty() &&
                    lang.compare(0, 2, reinterpret_cast<char*>(familyLang), 2) == 0) {
                    pick = n;
                    break;
                }
            }
            if (FcPatternGetString(font, FC_FAMILY, pick, &family) == FcResultMatch) {
                add(reinterpret_cast<const char*>(family), font);
            }
            continue;
        }
        for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &family) == FcResultMatch; ++n) {
            if (NamesEqualIgnoringCase(reinterpret_cast<const char*>(family), face)) {
                std::string name = reinterpret_cast<const char*>(family);
                if (vertical) {
                    if (!IsCjk(font)) break;
                    name = "@" + name;
                }
                add(name, font);
                break;
            }
        }
    }
    if (set) FcFontSetDestroy(set);
    // A Windows name whose free face is installed (for this language) is listed under its own
    // name.
    for (const FaceAlias& alias : kFaceAliases) {
        if (!face.empty() && !NamesEqualIgnoringCase(alias.windowsName, face)) continue;
        FcFontSet* targets = ListScalable(s, alias.freeFace);
        for (int i = 0; targets && i < targets->nfont; ++i) {
            FcPattern* font = targets->fonts[i];
            if (!HasLanguage(font, lang)) continue;
            if (vertical && !IsCjk(font)) continue;
            add(vertical ? "@" + std::string(alias.windowsName) : alias.windowsName, font);
            break;
        }
        if (targets) FcFontSetDestroy(targets);
    }
    return out;
}

void CopyName(const std::string& utf8, WCHAR* out, int units) {
    std::u16string wide = Utf8ToUtf16(utf8);
    int n = std::min<int>(static_cast<int>(wide.size()), units - 1);
    std::copy_n(wide.begin(), n, out);
    out[n] = 0;
}

}  // namespace

std::recursive_mutex& Lock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

FT_Library Library() {
    return Fonts().library;
}

std::string CharSetLanguage(BYTE charSet) {
    switch (charSet) {
        case SHIFTJIS_CHARSET:
            return "ja";
        case HANGUL_CHARSET:
            return "ko";
        case GB2312_CHARSET:
            return "zh-cn";
        case CHINESEBIG5_CHARSET:
            return "zh-tw";
        case ANSI_CHARSET:
            return "en";
        case DEFAULT_CHARSET:
            return kernel32::GetACP() == 932 ? "ja" : "en";
        default:
            return "";
    }
}

bool ChooseFace(const LOGFONTW& font, FaceChoice* out) {
    State& s = Fonts();
    if (s.config == nullptr) return false;
    FcPattern* pattern = FcPatternCreate();
    std::string face = Utf8(font.lfFaceName, LF_FACESIZE);
    if (!face.empty() && face[0] == '@') face.erase(0, 1);
    if (!face.empty()) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    }
    std::string lang = CharSetLanguage(font.lfCharSet);
    if (!lang.empty()) {
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(lang.c_str()));
    }
    int weight = font.lfWeight > 0 ? std::min<int>(font.lfWeight, 1000) : FW_NORMAL;
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, font.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(s.config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* best = FcFontMatch(s.config, pattern, &result);
    auto usable = [](FcPattern* font) {
        FcBool scalable = FcFalse;
        FcChar8* file = nullptr;
        return font != nullptr &&
               FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) == FcResultMatch && scalable &&
               FcPatternGetString(font, FC_FILE, 0, &file) == FcResultMatch;
    };
    if (!usable(best)) {
        if (best) FcPatternDestroy(best);
        best = nullptr;
    }
    // A fixed pitch asked for only chooses between faces that are otherwise equal: the match
    // made with a fixed pitch asked is taken only when it has the same family, weight and slant.
    int spacing = FC_PROPORTIONAL;
    if (best != nullptr && (font.lfPitchAndFamily & 3) == FIXED_PITCH &&
        FcPatternGetInteger(best, FC_SPACING, 0, &spacing) != FcResultMatch) {
        spacing = FC_PROPORTIONAL;
    }
    if (best != nullptr && (font.lfPitchAndFamily & 3) == FIXED_PITCH && spacing < FC_MONO) {
        FcPattern* fixed = FcPatternDuplicate(pattern);
        FcPatternAddInteger(fixed, FC_SPACING, FC_MONO);
        FcPattern* other = FcFontMatch(s.config, fixed, &result);
        FcPatternDestroy(fixed);
        FcChar8 *family = nullptr, *otherFamily = nullptr;
        int w = 0, sl = 0, ow = -1, osl = -1, ospacing = FC_PROPORTIONAL;
        FcPatternGetString(best, FC_FAMILY, 0, &family);
        FcPatternGetInteger(best, FC_WEIGHT, 0, &w);
        FcPatternGetInteger(best, FC_SLANT, 0, &sl);
        if (usable(other) &&
            FcPatternGetString(other, FC_FAMILY, 0, &otherFamily) == FcResultMatch &&
            FcPatternGetInteger(other, FC_SPACING, 0, &ospacing) == FcResultMatch &&
            FcPatternGetInteger(other, FC_WEIGHT, 0, &ow) == FcResultMatch &&
            FcPatternGetInteger(other, FC_SLANT, 0, &osl) == FcResultMatch && family != nullptr &&
            FcStrCmp(family, otherFamily) == 0 && ow == w && osl == sl && ospacing >= FC_MONO) {
            std::swap(best, other);
        }
        if (other) FcPatternDestroy(other);
    }
    FcPatternDestroy(pattern);
    if (best == nullptr) return false;
    FcChar8* file = nullptr;
    int index = 0;
    FcPatternGetString(best, FC_FILE, 0, &file);
    FcPatternGetInteger(best, FC_INDEX, 0, &index);
    out->file = reinterpret_cast<const char*>(file);
    out->index = index;
    FcPatternDestroy(best);
    return true;
}

}  // namespace platform::gdi::font

namespace platform::gdi32 {

using namespace gdi::font;

int EnumFontFamiliesExW(HDC, LOGFONTW* font, FONTENUMPROCW callback, LPARAM data, DWORD) {
    if (font == nullptr || callback == nullptr) return 0;
    std::vector<Listed> faces;
    {
        std::lock_guard guard(Lock());
        faces = ListFaces(Fonts(), Utf8(font->lfFaceName, LF_FACESIZE), font->lfCharSet);
    }
    // The callback runs outside the lock: it may well call gdi32 itself.
    int result = 1;
    for (const Listed& face : faces) {
        ENUMLOGFONTEXW info{};
        info.elfLogFont.lfHeight = 16;
        info.elfLogFont.lfWeight = FW_NORMAL;
        info.elfLogFont.lfCharSet = face.charSet;
        info.elfLogFont.lfOutPrecision = 3;   // OUT_STROKE_PRECIS
        info.elfLogFont.lfClipPrecision = 2;  // CLIP_STROKE_PRECIS
        info.elfLogFont.lfQuality = 1;        // DRAFT_QUALITY
        info.elfLogFont.lfPitchAndFamily = face.fixedPitch ? FIXED_PITCH : VARIABLE_PITCH;
        CopyName(face.name, info.elfLogFont.lfFaceName, LF_FACESIZE);
        CopyName(face.name, info.elfFullName, LF_FULLFACESIZE);
        CopyName(face.style, info.elfStyle, LF_FACESIZE);
        CopyName(face.charSet == ANSI_CHARSET       ? "Western"
                 : face.charSet == SHIFTJIS_CHARSET ? "Japanese"
                 : face.charSet == HANGUL_CHARSET   ? "Hangul"
                                                    : "CHINESE",
                 info.elfScript, LF_FACESIZE);
        NEWTEXTMETRICEXW metrics{};
        metrics.ntmTm.tm.tmHeight = 16;
        metrics.ntmTm.tm.tmCharSet = face.charSet;
        result = callback(&info.elfLogFont, &metrics.ntmTm.tm, TRUETYPE_FONTTYPE, data);
        if (result == 0) break;
    }
    return result;
}

int AddFontResourceExW(LPCWSTR path, DWORD, LPVOID) {
    std::string file;
    if (path == nullptr || !HostPathFromWide(path, file)) return 0;
    std::lock_guard guard(Lock());
    State& s = Fonts();
    for (PrivateFont& f : s.privateFonts) {
        if (f.id == 0 && f.source == file) {
            ++f.count;
            return CountLoadableFaces(f.file);
        }
    }
    int faces = CountLoadableFaces(file);
    if (faces == 0 || s.config == nullptr) return 0;
    if (!FcConfigAppFontAddFile(s.config, reinterpret_cast<const FcChar8*>(file.c_str()))) {
        return 0;
    }
    s.privateFonts.push_back({0, file, file, false, 1});
    return faces;
}

BOOL RemoveFontResourceExW(LPCWSTR path, DWORD, LPVOID) {
    std::string file;
    if (path == nullptr || !HostPathFromWide(path, file)) return FALSE;
    std::lock_guard guard(Lock());
    State& s = Fonts();
    auto it = std::find_if(s.privateFonts.begin(), s.privateFonts.end(),
                           [&](const PrivateFont& f) { return f.id == 0 && f.source == file; });
    if (it == s.privateFonts.end()) return FALSE;
    if (--it->count > 0) return TRUE;
    s.privateFonts.erase(it);
    RebuildApplicationFonts(s);
    return TRUE;
}

HANDLE AddFontMemResourceEx(LPVOID data, DWORD size, LPVOID, DWORD* fonts) {
    if (data == nullptr || size == 0 || fonts == nullptr) return nullptr;
    std::lock_guard guard(Lock());
    State& s = Fonts();
    if (s.config == nullptr) return nullptr;
    // fontconfig reads fonts from files: the image is written into a folder of this process.
    if (s.tempFolder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velk-fonts-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return nullptr;
        s.tempFolder = pattern;
    }
    std::string file = s.tempFolder + "/memory-" + std::to_string(++s.tempCounter) + ".ttf";
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return nullptr;
    bool written = std::fwrite(data, 1, size, out) == size;
    written = std::fclose(out) == 0 && written;
    int faces = written ? CountLoadableFaces(file) : 0;
    if (faces == 0 ||
        !FcConfigAppFontAddFile(s.config, reinterpret_cast<const FcChar8*>(file.c_str()))) {
        unlink(file.c_str());
        return nullptr;
    }
    std::uintptr_t id = s.nextId;
    s.nextId += 4;
    s.privateFonts.push_back({id, file, std::string(), true, 1});
    *fonts = static_cast<DWORD>(faces);
    return reinterpret_cast<HANDLE>(id);
}

BOOL RemoveFontMemResourceEx(HANDLE fonts) {
    std::lock_guard guard(Lock());
    State& s = Fonts();
    auto id = reinterpret_cast<std::uintptr_t>(fonts);
    auto it = std::find_if(s.privateFonts.begin(), s.privateFonts.end(),
                           [&](const PrivateFont& f) { return id != 0 && f.id == id; });
    if (it == s.privateFonts.end()) return FALSE;
    // Fonts made from it keep their face: FreeType has the file mapped.
    unlink(it->file.c_str());
    s.privateFonts.erase(it);
    RebuildApplicationFonts(s);
    return TRUE;
}

namespace {
const ModuleExports kExports("gdi32.dll",
                             {{"EnumFontFamiliesExW", Export(&EnumFontFamiliesExW)},
                              {"AddFontResourceExW", Export(&AddFontResourceExW)},
                              {"RemoveFontResourceExW", Export(&RemoveFontResourceExW)},
                              {"AddFontMemResourceEx", Export(&AddFontMemResourceEx)},
                              {"RemoveFontMemResourceEx", Export(&RemoveFontMemResourceEx)}});
}  // namespace

}  // namespace platform::gdi32
