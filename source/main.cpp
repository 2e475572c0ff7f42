// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "front_end.hpp"

int main(int argc, char** argv)
{
    return run_program(argc, argv);
}
