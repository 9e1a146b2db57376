// Placeholder for a library whose folder holds no source file yet.
namespace voryx { [[maybe_unused]] static int emptyLibrary = 0; }
