# Writes the controls of a Designer layout as a C++ table, so that a window
# made without Qt is built from the same stored layout as the Qt window:
#   cmake -DUI=TForm1.ui -DOUT=TForm1Layout.h -P UiLayoutHeader.cmake
# Read: the form's geometry and title; for each child widget its class,
# name, geometry, text, items, currentIndex and the selector's stored Text
# and ItemIndex; the tab stops in order. The texts become wide literals.
cmake_minimum_required(VERSION 3.25)

file(READ "${UI}" ui)

# A wide string literal from the layout's XML text.
function(wide_literal text out)
  string(REPLACE "&lt;" "<" text "${text}")
  string(REPLACE "&gt;" ">" text "${text}")
  string(REPLACE "&quot;" "\"" text "${text}")
  string(REPLACE "&apos;" "'" text "${text}")
  string(REPLACE "&amp;" "&" text "${text}")
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "L\"${text}\"" PARENT_SCOPE)
endfunction()

# The <string> of a property in block, or empty.
function(string_property block name out)
  set(value "")
  if(block MATCHES "<property name=\"${name}\"[^>]*>[ \n\r\t]*<string[^>]*>([^<]*)</string>")
    set(value "${CMAKE_MATCH_1}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(number_property block name default out)
  set(value "${default}")
  if(block MATCHES "<property name=\"${name}\"[^>]*>[ \n\r\t]*<number>(-?[0-9]+)</number>")
    set(value "${CMAKE_MATCH_1}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(geometry block out)
  if(NOT block MATCHES "<x>(-?[0-9]+)</x>[ \n\r\t]*<y>(-?[0-9]+)</y>[ \n\r\t]*<width>([0-9]+)</width>[ \n\r\t]*<height>([0-9]+)</height>")
    message(FATAL_ERROR "${UI}: a widget without geometry")
  endif()
  set(${out} "{${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}, ${CMAKE_MATCH_3}, ${CMAKE_MATCH_4}}" PARENT_SCOPE)
endfunction()

# The form: everything before its first child.
string(FIND "${ui}" "<widget " form_start)
string(SUBSTRING "${ui}" ${form_start} -1 rest)
string(SUBSTRING "${rest}" 1 -1 after_form_tag)
string(FIND "${after_form_tag}" "<widget " first_child)
string(SUBSTRING "${rest}" 0 ${first_child} form_block)
geometry("${form_block}" form_geometry)
string_property("${form_block}" windowTitle form_title)
wide_literal("${form_title}" form_title)

# The tab stops, in order.
string(REGEX MATCHALL "<tabstop>[^<]*</tabstop>" tabstops "${ui}")
set(tab_names)
foreach(stop IN LISTS tabstops)
  string(REGEX REPLACE "</?tabstop>" "" stop "${stop}")
  list(APPEND tab_names "${stop}")
endforeach()

# Each child: from its tag to the next one (the layout nests no deeper).
string(SUBSTRING "${after_form_tag}" ${first_child} -1 children)
set(blocks)
while(NOT children STREQUAL "")
  string(SUBSTRING "${children}" 1 -1 tail)
  string(FIND "${tail}" "<widget " next)
  if(next EQUAL -1)
    list(APPEND blocks "${children}")
    break()
  endif()
  math(EXPR length "${next} + 1")
  string(SUBSTRING "${children}" 0 ${length} block)
  list(APPEND blocks "${block}")
  string(SUBSTRING "${children}" ${length} -1 children)
endwhile()

set(items_text "")
set(controls_text "")
foreach(block IN LISTS blocks)
  if(NOT block MATCHES "<widget class=\"([A-Za-z0-9_]+)\" name=\"([A-Za-z0-9_]+)\">")
    message(FATAL_ERROR "${UI}: unreadable widget")
  endif()
  set(class "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  geometry("${block}" rect)
  # The widget's own text comes before its items, which have texts of their own.
  string(FIND "${block}" "<item>" first_item)
  string(SUBSTRING "${block}" 0 ${first_item} own_block)
  string_property("${own_block}" text text)
  wide_literal("${text}" text)
  string_property("${block}" Text stored_text)
  wide_literal("${stored_text}" stored_text)
  number_property("${block}" currentIndex -1 current_index)
  number_property("${block}" ItemIndex -1 item_index)
  if(block MATCHES "<property name=\"ItemIndex\"")
    set(has_item_index true)
  else()
    set(has_item_index false)
  endif()
  list(FIND tab_names "${name}" tab_order)

  string(REGEX MATCHALL "<item>[ \n\r\t]*<property name=\"text\">[ \n\r\t]*<string>[^<]*</string>" items "${block}")
  set(item_literals "")
  foreach(item IN LISTS items)
    string(REGEX REPLACE ".*<string>([^<]*)</string>" "\\1" item "${item}")
    wide_literal("${item}" item)
    string(APPEND item_literals "${item}, ")
  endforeach()
  set(items_span "{}")
  if(item_literals)
    string(APPEND items_text "inline constexpr const wchar_t* ${name}Items[] = {${item_literals}};\n")
    set(items_span "${name}Items")
  endif()
  string(APPEND controls_text
    "    {L\"${name}\", L\"${class}\", ${rect}, ${text}, ${items_span}, ${current_index}, ${stored_text}, "
    "${has_item_index}, ${item_index}, ${tab_order}},\n")
endforeach()

file(WRITE "${OUT}.new"
"// Made from ${UI} by cmake/UiLayoutHeader.cmake at build time: change the\n"
"// layout there, never here.\n"
"#pragma once\n\n"
"#include \"StoredLayout.h\"\n\n"
"inline constexpr wchar_t StoredFormTitle[] = ${form_title};\n"
"inline constexpr TStoredRect StoredFormGeometry = ${form_geometry};\n"
"${items_text}"
"inline constexpr TStoredControl StoredControls[] = {\n"
"${controls_text}"
"};\n")
# Unchanged content keeps its time, so that nothing is rebuilt for nothing.
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
