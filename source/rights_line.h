// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
/* The rights line of the help text, and the copyright of the Windows version
   resource: one text for both, so a plain macro that the resource compiler
   reads too (hence also a classic include guard). */
#ifndef ZANDREL_RIGHTS_LINE_H
#define ZANDREL_RIGHTS_LINE_H
#define ZANDREL_RIGHTS_LINE "Copyright (C) 2022. All rights reserved."
#endif
