#include "plot/picture.h"

#include "plot_test.h"

namespace korw::plot::test {

namespace {

std::string ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t LittleEndian(const std::string& bytes, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

TEST_F(PlotTest, PicturesInThreeFormats) {
    ScreenPixel(0, 0, 4);      // top left red
    ScreenPixel(639, 479, 1);  // bottom right blue
    const std::string dir = ::testing::TempDir() + "plot_pictures_" + std::to_string(::getpid());
    const std::string bmp = dir + ".BMP", jpg = dir + ".jpg", png = dir + ".png";

    ASSERT_TRUE(SavePicture(bmp)) << data::ErrorMessage;
    const std::string b = ReadAll(bmp);
    ASSERT_EQ(b.size(), 54u + 640 * 3 * 480);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(LittleEndian(b, 2, 4), b.size());
    EXPECT_EQ(LittleEndian(b, 18, 4), 640u);
    EXPECT_EQ(LittleEndian(b, 22, 4), 480u);
    EXPECT_EQ(LittleEndian(b, 28, 2), 24u);
    // Rows run bottom-up in blue, green, red order.
    EXPECT_EQ(LittleEndian(b, 54 + 639 * 3, 3), 180u);           // bottom right: blue byte first
    EXPECT_EQ(LittleEndian(b, 54 + 479 * 1920, 3), 180u << 16);  // top left: red byte last

    ASSERT_TRUE(SavePicture(jpg)) << data::ErrorMessage;
    EXPECT_EQ(ReadAll(jpg).substr(0, 3), "\xFF\xD8\xFF");
    ASSERT_TRUE(SavePicture(png)) << data::ErrorMessage;
    EXPECT_EQ(ReadAll(png).substr(1, 3), "PNG");
    for (const std::string& name : {bmp, jpg, png}) std::remove(name.c_str());

    EXPECT_FALSE(SavePicture(dir + ".GIF"));
    EXPECT_EQ(data::ErrorMessage, "Unknown picture type " + dir + ".GIF");
    EXPECT_FALSE(SavePicture("/nonexistent-dir/P.BMP"));
    EXPECT_EQ(data::ErrorMessage, "Failed to save /nonexistent-dir/P.BMP");
    EXPECT_EQ(data::ProcedureName, "SavePicture");
}

TEST_F(PlotTest, DefaultPictureNameSkipsExistingFiles) {
    const std::string dir = ::testing::TempDir() + "plot_names_" + std::to_string(::getpid());
    std::filesystem::create_directory(dir);
    EXPECT_EQ(DefaultPictureName(dir), dir + "/KORW1.JPG");
    std::ofstream(dir + "/KORW1.JPG") << "x";
    EXPECT_EQ(DefaultPictureName(dir), dir + "/KORW2.JPG");
    std::filesystem::remove_all(dir);
}

}  // namespace

}  // namespace korw::plot::test
