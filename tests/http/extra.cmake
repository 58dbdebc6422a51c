# The HTTPS loopback server is checked with plain libcurl.
target_link_libraries(http_tests PRIVATE CURL::libcurl)
