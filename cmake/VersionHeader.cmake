# Writes the version header at build time, so the commit it names is the one built, not the one
# configured. The file is only touched when its text changes: an unchanged commit rebuilds nothing.
# Variables: SOURCE_DIR, INPUT, OUTPUT, VERSION.
set(VELMAR_VERSION_TEXT "${VERSION}")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
        OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND commit)
        execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
            OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(changes)
            string(APPEND commit "-modified")
        endif()
        string(APPEND VELMAR_VERSION_TEXT " (commit ${commit})")
    endif()
endif()
configure_file("${INPUT}" "${OUTPUT}.new" @ONLY)
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
