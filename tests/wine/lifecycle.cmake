# The host's whole lifecycle with two instances, in a private network namespace (only the
# harness's own endpoints, no name server) and on a private X display for the dialog: the x86_64
# DLL under wine64, and the product, the i686 DLL, under 32-bit Wine in one process.
configure_file(${CMAKE_CURRENT_LIST_DIR}/lifecycle.ini ${CMAKE_BINARY_DIR}/bin/lifecycle.ini
               COPYONLY)
qv_add_wine_test(lifecycle I686 NETNS XVFB
  COMMAND harness lifecycle lifecycle.ini lifecycle-saved.ini)

# Unloading while the collector runs; the same code in both DLLs, so wine64 alone.
qv_add_wine_test(unload NETNS COMMAND harness unload)
