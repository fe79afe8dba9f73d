// A fresh, empty working directory for each test of config.txt, on every
// platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

class ConfigFile : public testing::Test {
  protected:
    void SetUp() override {
        old_dir_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               ("config_test_" + std::to_string(std::rand()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        ASSERT_TRUE(std::filesystem::create_directories(dir_));
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_dir_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    static void write_file(const std::string& text) {
        std::FILE* file = std::fopen("config.txt", "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

  private:
    std::filesystem::path old_dir_;
    std::filesystem::path dir_;
};
