// Removed once the window has its first source file.
