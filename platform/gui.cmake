# The widget half of the platform layer.
target_sources(trimora_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GuiSupport.cpp
)
