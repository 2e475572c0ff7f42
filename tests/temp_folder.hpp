// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// A fresh folder under the system's temporary directory, removed with
// everything in it when the test is done.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

class TempFolder {
  public:
    TempFolder()
    {
        std::random_device entropy;
        const auto base = std::filesystem::temp_directory_path();
        do {
            path_ = base / ("zandrel-test-" + std::to_string(entropy()));
        } while (!std::filesystem::create_directory(path_));
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::string write_file(const std::string& name, const std::vector<unsigned char>& bytes) const
    {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(out.good()) << "could not write " << file;
        return file.string();
    }

  private:
    std::filesystem::path path_;
};
