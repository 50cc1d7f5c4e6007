# The library core: every subsystem folder of src/ except src/frame, the
# only code that touches R. Included by tests/cpp and python/ so both build
# the same sources.
#   TOUCHLANE_SRC           the src/ folder
#   TOUCHLANE_CORE_SOURCES  its core .cpp files
get_filename_component(TOUCHLANE_SRC ${CMAKE_CURRENT_LIST_DIR}/../src ABSOLUTE)
file(GLOB TOUCHLANE_CORE_SOURCES CONFIGURE_DEPENDS ${TOUCHLANE_SRC}/*/*.cpp)
list(FILTER TOUCHLANE_CORE_SOURCES EXCLUDE REGEX "/frame/")
