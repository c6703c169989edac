# Writes the tool's XPM picture as a Windows icon in resource-script form
# (the icon image and its group as data blocks), so that the picture is
# stored once and the icon needs no binary file:
#   cmake -DXPM=zorbel.xpm -DOUT=icon.rc -DID=1 -P XpmIconResource.cmake
# One character per pixel, colours "#RRGGBB" or None; the image is 32-bit
# with its alpha, and the AND mask says the same for old systems.
cmake_minimum_required(VERSION 3.25)

file(STRINGS "${XPM}" lines REGEX "^\"")
list(POP_FRONT lines header)
string(REGEX MATCH "\"([0-9]+) ([0-9]+) ([0-9]+) 1\"" header "${header}")
if(NOT header)
  message(FATAL_ERROR "${XPM}: only one character per pixel is read")
endif()
set(width ${CMAKE_MATCH_1})
set(height ${CMAKE_MATCH_2})
set(color_count ${CMAKE_MATCH_3})

# The colours: BGRA words by character.
foreach(i RANGE 1 ${color_count})
  list(POP_FRONT lines entry)
  if(NOT entry MATCHES "^\"(.) c (#[0-9A-Fa-f]+|None)\"")
    message(FATAL_ERROR "${XPM}: unreadable colour ${entry}")
  endif()
  string(HEX "${CMAKE_MATCH_1}" key)
  if(CMAKE_MATCH_2 STREQUAL "None")
    set(pixel_${key} "0x00000000L")
    set(opaque_${key} 0)
  else()
    string(SUBSTRING "${CMAKE_MATCH_2}" 1 6 rgb)
    set(pixel_${key} "0xFF${rgb}L")
    set(opaque_${key} 1)
  endif()
endforeach()

# Rows bottom-up, as bitmaps keep them.
list(REVERSE lines)
set(pixels "")
set(mask "")
math(EXPR mask_bytes "((${width} + 31) / 32) * 4")
math(EXPR last_column "${width} - 1")
set(row_count 0)
foreach(line IN LISTS lines)
  if(row_count EQUAL height)
    break()
  endif()
  math(EXPR row_count "${row_count} + 1")
  string(SUBSTRING "${line}" 1 ${width} row)
  set(row_bits "")
  foreach(x RANGE 0 ${last_column})
    string(SUBSTRING "${row}" ${x} 1 c)
    string(HEX "${c}" key)
    string(APPEND pixels "${pixel_${key}},")
    if(opaque_${key})
      string(APPEND row_bits "0")
    else()
      string(APPEND row_bits "1")
    endif()
  endforeach()
  # The mask row as bytes, most significant bit first, padded to a DWORD,
  # written as little-endian words.
  math(EXPR padded_bits "${mask_bytes} * 8 - ${width}")
  foreach(pad RANGE 1 ${padded_bits})
    if(padded_bits GREATER 0)
      string(APPEND row_bits "1")
    endif()
  endforeach()
  math(EXPR last_word "${mask_bytes} / 2 - 1")
  foreach(w RANGE 0 ${last_word})
    math(EXPR low_start "${w} * 16")
    math(EXPR high_start "${w} * 16 + 8")
    set(word 0)
    foreach(start ${high_start} ${low_start})
      string(SUBSTRING "${row_bits}" ${start} 8 byte_bits)
      set(byte 0)
      foreach(b RANGE 0 7)
        string(SUBSTRING "${byte_bits}" ${b} 1 bit)
        math(EXPR byte "${byte} * 2 + ${bit}")
      endforeach()
      math(EXPR word "${word} * 256 + ${byte}")
    endforeach()
    string(APPEND mask "${word},")
  endforeach()
endforeach()
string(REGEX REPLACE ",$" "" mask "${mask}")

math(EXPR image_height "${height} * 2")
math(EXPR image_bytes "40 + ${width} * ${height} * 4 + ${mask_bytes} * ${height}")
math(EXPR size_word "(${height} % 256) * 256 + (${width} % 256)")
file(WRITE "${OUT}.new"
"// Made from ${XPM} by cmake/XpmIconResource.cmake at build time.\n"
"// The image: BITMAPINFOHEADER, the BGRA rows, the AND mask.\n"
"${ID} 3 {\n  40L, ${width}L, ${image_height}L, 1, 32, 0L, 0L, 0L, 0L, 0L, 0L,\n  ${pixels}\n  ${mask}\n}\n"
"// The group: one 32-bit image of ${width} by ${height}.\n"
"${ID} 14 {\n  0, 1, 1, ${size_word}, 0, 1, 32, ${image_bytes}L, ${ID}\n}\n")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
