# The version the framework bundle must report.
target_compile_definitions(platform_tests PRIVATE BRENVO_EXPECTED_VERSION="${PROJECT_VERSION}")
