# Writes the resource script fragment OUTPUT holding bitmap 101 (the
# eyedropper of resources/eyedropper.h) as a 4-bit device-independent bitmap
# in the raw-data form of a resource script. Run with cmake -P.
file(READ ${INPUT} header)
string(REGEX MATCHALL "\"[.#ow]+\"" rows "${header}")
list(LENGTH rows height)
set(pixels "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "[.#ow]+" row "${row}")
  list(APPEND pixels "${row}")
endforeach()
list(GET pixels 0 first)
string(LENGTH "${first}" width)

# The palette index of a pixel's character (the 16-colour palette below).
function(palette_index character out)
  if(character STREQUAL "o")
    set(${out} 8 PARENT_SCOPE)    # dark grey
  elseif(character STREQUAL "w")
    set(${out} 15 PARENT_SCOPE)   # white
  elseif(character STREQUAL ".")
    set(${out} 7 PARENT_SCOPE)    # light grey
  else()
    set(${out} 0 PARENT_SCOPE)    # black
  endif()
endfunction()

set(bytes "")
macro(add_byte value)
  list(APPEND bytes ${value})
endmacro()
macro(add_dword value)
  math(EXPR b0 "(${value}) & 255")
  math(EXPR b1 "((${value}) >> 8) & 255")
  math(EXPR b2 "((${value}) >> 16) & 255")
  math(EXPR b3 "((${value}) >> 24) & 255")
  list(APPEND bytes ${b0} ${b1} ${b2} ${b3})
endmacro()

math(EXPR row_bytes "((${width} * 4 + 31) / 32) * 4")
math(EXPR image_bytes "${row_bytes} * ${height}")
add_dword(40)               # biSize
add_dword(${width})         # biWidth
add_dword(${height})        # biHeight: bottom-up
add_byte(1)                 # biPlanes
add_byte(0)
add_byte(4)                 # biBitCount
add_byte(0)
add_dword(0)                # biCompression: BI_RGB
add_dword(${image_bytes})   # biSizeImage
add_dword(0)
add_dword(0)
add_dword(16)               # biClrUsed
add_dword(0)
# The standard 16 colours, as B, G, R, 0.
foreach(colour 0x000000 0x000080 0x008000 0x008080 0x800000 0x800080 0x808000 0xC0C0C0
               0x808080 0x0000FF 0x00FF00 0x00FFFF 0xFF0000 0xFF00FF 0xFFFF00 0xFFFFFF)
  math(EXPR r "(${colour} >> 16) & 255")
  math(EXPR g "(${colour} >> 8) & 255")
  math(EXPR b "${colour} & 255")
  list(APPEND bytes ${b} ${g} ${r} 0)
endforeach()
math(EXPR last_row "${height} - 1")
foreach(y RANGE ${last_row} 0 -1)
  list(GET pixels ${y} row)
  set(count 0)
  math(EXPR last_pair "(${width} + 1) / 2 - 1")
  foreach(pair RANGE 0 ${last_pair})
    math(EXPR x "${pair} * 2")
    string(SUBSTRING "${row}" ${x} 1 left)
    math(EXPR x1 "${x} + 1")
    set(right ".")
    if(x1 LESS width)
      string(SUBSTRING "${row}" ${x1} 1 right)
    endif()
    palette_index("${left}" high_nibble)
    palette_index("${right}" low_nibble)
    math(EXPR value "(${high_nibble} << 4) | ${low_nibble}")
    list(APPEND bytes ${value})
    math(EXPR count "${count} + 1")
  endforeach()
  while(count LESS row_bytes)
    list(APPEND bytes 0)
    math(EXPR count "${count} + 1")
  endwhile()
endforeach()

# Raw data in words, low byte first, twelve to a line.
set(words "")
list(LENGTH bytes total)
math(EXPR last "${total} - 1")
foreach(i RANGE 0 ${last} 2)
  list(GET bytes ${i} low)
  math(EXPR j "${i} + 1")
  set(high 0)
  if(j LESS total)
    list(GET bytes ${j} high)
  endif()
  math(EXPR word "(${high} << 8) | ${low}" OUTPUT_FORMAT HEXADECIMAL)
  list(APPEND words ${word})
endforeach()
set(text "/* Bitmap 101, written from resources/eyedropper.h. */\n101 2\nBEGIN\n")
list(LENGTH words count)
set(line "")
set(n 0)
foreach(word IN LISTS words)
  math(EXPR n "${n} + 1")
  string(APPEND line " ${word}")
  if(n LESS count)
    string(APPEND line ",")
  endif()
  math(EXPR column "${n} % 12")
  if(column EQUAL 0 OR n EQUAL count)
    string(APPEND text "   ${line}\n")
    set(line "")
  endif()
endforeach()
string(APPEND text "END\n")
file(WRITE ${OUTPUT} "${text}")
