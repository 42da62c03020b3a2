# zeza_embed_binary(<out_cpp> <input_file> <function_name> [DEPENDS targets...])
#
# Generates, at build time, a C++ source that holds the bytes of <input_file>
# and defines `std::span<const unsigned char> zeza::<function_name>()`.
# Keeps embedded files (template database, updater) out of any Qt resource
# system, so the core library stays Qt-free.
set(_ZEZA_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedBinaryScript.cmake)

function(zeza_embed_binary out_cpp input_file function_name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  add_custom_command(
    OUTPUT ${out_cpp}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input_file} -DOUTPUT=${out_cpp} -DFUNCTION=${function_name}
            -P ${_ZEZA_EMBED_SCRIPT}
    DEPENDS ${input_file} ${_ZEZA_EMBED_SCRIPT} ${ARG_DEPENDS}
    COMMENT "Embedding ${input_file}"
    VERBATIM)
endfunction()
