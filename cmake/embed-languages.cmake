# veltra_embed_languages(folder output): writes `output`, a C++ include file
# with one row {"name", "bytes", size} per language file folder/name.lng, in
# name order. Runs at configure time; a changed, added or removed language
# file configures again.
function(veltra_embed_languages folder output)
  file(GLOB files CONFIGURE_DEPENDS ${folder}/*.lng)
  list(SORT files)
  set(rows "// Generated from ${folder} by cmake/embed-languages.cmake.\n")
  foreach(file ${files})
    get_filename_component(name ${file} NAME_WE)
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(APPEND rows "{\"${name}\", \"${escaped}\", ${size}},\n")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  endforeach()
  file(WRITE ${output}.new "${rows}")
  configure_file(${output}.new ${output} COPYONLY)
endfunction()
