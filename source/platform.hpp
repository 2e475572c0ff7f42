// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// What the program asks of the system by a file's name: to open the file,
// and to show the name. Names are UTF-8 wherever the system's own are.
#pragma once

#include <cstdio>

// The file opened for reading in binary mode, so that every byte (CR and
// 0x1A included) counts as stored; nullptr where it cannot be opened.
std::FILE* open_for_reading(const char* file_name);

// Writes the name to standard output as the user gave it.
void put_file_name(const char* file_name);
