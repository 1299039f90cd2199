// Holds the compiled-in images (see CMakeLists.txt); the library needs one source of its own.
namespace mossbridge_resources_anchor {
int anchor = 0;
}
