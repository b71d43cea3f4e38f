// Keeps the helper library non-empty.
