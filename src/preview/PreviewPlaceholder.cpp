// Removed once the preview has its first source file.
