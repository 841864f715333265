// Placeholder translation unit so the runtime archive is never empty.
int RuntimeVersionPlaceholder() { return 0; }
