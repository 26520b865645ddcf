// Whether this build runs under AddressSanitizer. The keepers of freed memory then hand every
// block back to the heap, so that the sanitizer sees each block come and go and catches a use
// after free.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define HOST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef HOST_ADDRESS_SANITIZER
#define HOST_ADDRESS_SANITIZER 0
#endif
