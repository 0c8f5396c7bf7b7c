// Placeholder: the library entry points replace this file.
