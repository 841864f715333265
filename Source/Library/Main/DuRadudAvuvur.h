// The text-entry module: line-input handles, the queue of typed characters that the main window
// procedure fills, their editing each frame, the drawing of a line input with its selection and
// cursor, and the IME's composition and candidate lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Main/DxHandle.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

struct LineInputRecord {
    int inUse;
    int checkCount;
    int finished;
    int cancelled;
    int length;          // UTF-16 units
    int maximumLength;   // code units of the narrow encoding
    int selectionStart;  // -1: nothing selected
    int selectionEnd;
    int firstShown;
    int cursor;
    char16_t* text;  // maximumLength + 1 units
    char* scratch;   // the narrow form, measured; follows the text in the same block
    int scratchSize;
    int cancelAllowed;
    int singleByteOnly;
    int numbersOnly;
    int doubleByteOnly;
    int multiLine;
};

class DE_DUDedivavAzid;

inline constexpr int kTypedQueueSize = 1025;
inline constexpr int kLineInputSlots = 256;
inline constexpr int kLineInputColours = 23;

struct TextInputSystemState {
    char16_t typedQueue[kTypedQueueSize];
    int queueRead;
    int queueWrite;
    int composing;
    int compositionCursor;  // characters
    char16_t composition[1025];
    char16_t savedComposition[1025];
    std::uint8_t* candidateList;  // CANDIDATELIST layout
    int candidateListSize;
    int imeRequested;
    int imeAllowedByInput;
    int imeEnabled;
    HANDLE savedInputContext;
    int imeOpen;
    int imeResyncStep;
    int clauseOffsets[1024];
    int clauseCount;
    std::uint8_t attributes[1024];
    int attributeCount;
    std::uint32_t colours[kLineInputColours];
    int compositionEdgeSwitch;  // colour 7
    int convertingEdgeSwitch;   // colour 12
    int selectedCandidateBar;   // colour 18
    HandleValue activeInput;
    LineInputRecord inputs[kLineInputSlots];
    int checkCounter;
    void* threadManager;
    DE_DUDedivavAzid* sink;
    int openCandidateElements;
    DWORD sinkCookie;
};

extern TextInputSystemState TextInputSystem;

// The text-services candidate-list element, as far as the module reads it.
struct CandidateListElement {
    virtual ~CandidateListElement() = default;
    virtual HRESULT GetSelection(UINT* index) = 0;
    virtual HRESULT GetCount(UINT* count) = 0;
    // A newly allocated string the caller frees with FreeString; null on failure.
    virtual HRESULT GetString(UINT index, char16_t** text) = 0;
    virtual void FreeString(char16_t* text) = 0;
};

// The text-services UI-element sink: reference counted; its element lookup is given at creation
// (it answers the element for an id, null when none; isCandidateList tells the kind).
class DE_DUDedivavAzid {
  public:
    using ElementLookup = CandidateListElement* (*)(DWORD id, bool* isCandidateList);
    explicit DE_DUDedivavAzid(ElementLookup lookup) : lookup_(lookup) {}
    virtual ~DE_DUDedivavAzid() = default;
    virtual ULONG AddRef();
    virtual ULONG Release();
    virtual HRESULT BeginUIElement(DWORD id, BOOL* show);
    virtual HRESULT UpdateUIElement(DWORD id);
    virtual HRESULT EndUIElement(DWORD id);
    int referenceCount = 1;

  private:
    ElementLookup lookup_;
};

// ---- Handles and queue ----
int InitTextInputSystem();
int ReleaseTextServicesSink();
// At the library's end: the line inputs, the candidate list and the text-services sink.
int EndTextInputSystem();
HandleValue CreateLineInputHandle(int maximumLength, int cancelAllowed, int singleByteOnly,
                                  int numbersOnly, int doubleByteOnly, int multiLine);
int CheckLineInputState(HandleValue handle);
int DeleteLineInputHandle(HandleValue handle);
int DeleteAllLineInputs();
int ActivateLineInput(HandleValue handle);
// Converts the text into the narrow encoding: at most bufferBytes bytes with the terminator,
// cut between characters.
int GetLineInputText(char* buffer, std::size_t bufferBytes, HandleValue handle);
int SetLineInputText(const char* text, HandleValue handle);
int SetLineInputTextWide(const char16_t* text, HandleValue handle);
// All ones (-1) omits a colour.
int SetLineInputColors(const std::int64_t colours[17]);
int ResetLineInputColor();
int EnableImeInput(int flag);
int RefreshImeState(int force);
int QueueTypedCharacter(char16_t unit);
bool IsTypedQueueFull();
int TakeTypedCharacter(char16_t out[2], int take);
int ClearTypedCharacters();
bool IsKeyControlCode(char16_t unit);
LineInputRecord* FindLineInput(HandleValue handle);

// ---- Editing ----
int ProcessLineInputKeys();
int DeleteLineInputSelection(LineInputRecord* record);
int GetWideUnitRole(const char16_t* text, int position);

// ---- Drawing ----
int DrawLineInput(int x, int y, HandleValue handle, int showCandidates);
int DrawLineInputScaled(int x, int y, int scaled, double sx, double sy, HandleValue handle,
                        int showCandidates);

// ---- IME ----
LRESULT ReadImeCandidateList(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ReadCandidateListElement(CandidateListElement* element);
int DrawImeComposition(int x, int y, int scaled, double sx, double sy, int perPage, int show);
int CountCharsInUnits(const char16_t* text, int units);
// The candidate window of the state's candidate list: the page, its formatted lines and the box,
// placed below the composition point (kx, ky) of a text line at y, or above it or against the
// area's bottom when it does not fit. False when there is nothing to show.
struct CandidateWindowLayout {
    int pageSize = 0, pageStart = 0, selection = 0, count = 0;
    std::vector<std::u16string> lines;
    std::u16string counter;
    int widest = 0, counterWidth = 0;
    RECT box{};
};
bool LayOutCandidateWindow(int kx, int ky, int y, int h, const RECT& area, int perPage, int scaled,
                           double sx, CandidateWindowLayout* out);
// True when the IME counts as open and enabled (the window procedure drops typed characters then).
bool IsImeOpenForInput();
// The activation handler's step: re-synchronise an open IME with the next frame's processing.
void RequestImeResync();

}  // namespace ZiDaz
