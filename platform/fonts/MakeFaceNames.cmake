# Turns face-names.txt into FontFaceNames.inc: the fontconfig configuration that maps each Windows
# face name onto its free face, and the same pairs as a table for enumeration.
# Run as: cmake -DIN=face-names.txt -DOUT=FontFaceNames.inc -P MakeFaceNames.cmake
file(STRINGS "${IN}" _lines ENCODING UTF-8)
set(_xml "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n")
set(_table "")
foreach(_line IN LISTS _lines)
    string(STRIP "${_line}" _line)
    if(_line STREQUAL "" OR _line MATCHES "^#")
        continue()
    endif()
    string(FIND "${_line}" "=" _at)
    if(_at LESS 1)
        message(FATAL_ERROR "face-names.txt: no \"=\" in \"${_line}\"")
    endif()
    string(SUBSTRING "${_line}" 0 ${_at} _windows)
    math(EXPR _after "${_at} + 1")
    string(SUBSTRING "${_line}" ${_after} -1 _free)
    string(STRIP "${_windows}" _windows)
    string(STRIP "${_free}" _free)
    foreach(_name _windows _free)
        string(REPLACE "&" "&amp;" _x "${${_name}}")
        string(REPLACE "<" "&lt;" _x "${_x}")
        string(REPLACE ">" "&gt;" _x "${_x}")
        set(${_name}_xml "${_x}")
    endforeach()
    string(APPEND _xml "  <alias binding=\"same\">\n    <family>${_windows_xml}</family>\n"
                       "    <prefer><family>${_free_xml}</family></prefer>\n  </alias>\n")
    string(APPEND _table "    {R\"velk(${_windows})velk\", R\"velk(${_free})velk\"},\n")
endforeach()
string(APPEND _xml "</fontconfig>\n")
file(WRITE "${OUT}.tmp"
    "// Made by MakeFaceNames.cmake from face-names.txt; do not edit.\n"
    "static const char kFaceAliasConfig[] = R\"velk(${_xml})velk\";\n"
    "static const FaceAlias kFaceAliases[] = {\n${_table}};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
