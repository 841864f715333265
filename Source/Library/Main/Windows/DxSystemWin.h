// The library-wide state record.
#pragma once

namespace ZiDaz {

struct LibrarySystemState {
    int endRequested;  // set by RequestLibraryEnd
};

// The one instance; zero at program start.
extern LibrarySystemState LibrarySystem;

}  // namespace ZiDaz
