if(NOT EXISTS "${SETTINGS_FILE}")
    file(WRITE "${SETTINGS_FILE}" "")
endif()
