// Placeholder translation unit so the library archive is never empty.
namespace ZiDaz {
int LibraryVersionPlaceholder() { return 0; }
}  // namespace ZiDaz
