# ICMP echo on Linux: an unprivileged datagram socket where allowed, else a raw socket.
target_sources(korvi_platform_posix
  PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/icmp_echo.cpp
    ${CMAKE_CURRENT_LIST_DIR}/icmp_open.cpp
    ${CMAKE_CURRENT_LIST_DIR}/icmp_packet.cpp
    ${CMAKE_CURRENT_LIST_DIR}/inet_addr.cpp)
