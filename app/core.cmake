# The Qt-free part of the export command, which the command-line tool shares
# with the main window. Included from app/ and from cli/; the guard keeps the
# sources from being added twice.
include_guard(GLOBAL)
target_sources(trimora_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ExportPlan.cpp)
