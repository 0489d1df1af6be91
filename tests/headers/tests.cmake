# The header decoder: raw header bytes in, UTF-16 sender and subject out.
tolvaran_test(headers_tests
  headers/header_decode_test.cpp
)
