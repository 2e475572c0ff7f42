// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
/* Read before every source of the program built against musl (-include).
   Debian's libstdc++ headers are configured for glibc and test its version
   with __GLIBC_PREREQ, which musl does not define: no glibc, so never. */
#define __GLIBC_PREREQ(major, minor) 0
