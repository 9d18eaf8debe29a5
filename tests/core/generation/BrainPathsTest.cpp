#include "generation/BrainPaths.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

// Sets or clears one environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

TEST(BrainPathsTest, DerivedFoldersHangOffHomeAndScripts)
{
    const BrainPaths p("/opt/kz/brain", QString("/data/brain"));
    EXPECT_EQ(p.runtime(), "/data/brain/zelvo-0/optimized/mlx");
    EXPECT_EQ(p.python(), "/data/brain/zelvo-0/optimized/mlx/.venv/bin/python");
    EXPECT_EQ(p.server(), "/opt/kz/brain/kavri_brain.py");
    EXPECT_EQ(p.installer(), "/opt/kz/brain/install.sh");
    EXPECT_EQ(p.scratch(), "/data/brain/scratch");
    EXPECT_EQ(p.models(), "/data/brain/models");
}

TEST(BrainPathsTest, HomeComesFromTheCallerTheEnvironmentOrApplicationSupport)
{
    test::TempHome home;
    {
        ScopedEnv unset("KAVRI_BRAIN_HOME", nullptr);
        EXPECT_EQ(BrainPaths("/s").home, home.file(".local/share/KavriZelvo/brain"));
    }
    {
        ScopedEnv empty("KAVRI_BRAIN_HOME", "");
        EXPECT_EQ(BrainPaths("/s").home, home.file(".local/share/KavriZelvo/brain"));
    }
    ScopedEnv set("KAVRI_BRAIN_HOME", "/srv/brain/");
    EXPECT_EQ(BrainPaths("/s").home, "/srv/brain");
    EXPECT_EQ(BrainPaths("/s", QString("/given")).home, "/given") << "a given home wins over the environment";
}

TEST(BrainPathsTest, InstalledMeansAnExecutableInterpreter)
{
    test::TempHome home;
    const BrainPaths p("/s", home.file("brain"));
    EXPECT_FALSE(p.isInstalled());
    ASSERT_TRUE(QDir().mkpath(p.python())); // a folder is not an interpreter
    EXPECT_FALSE(p.isInstalled());
    ASSERT_TRUE(QDir().rmdir(p.python()));
    QFile python(p.python());
    ASSERT_TRUE(python.open(QIODevice::WriteOnly));
    python.close();
    EXPECT_FALSE(p.isInstalled());
    python.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(p.isInstalled());
    // A virtual environment's interpreter is usually a link to the real one.
    const QString target = home.file("python3.11");
    ASSERT_TRUE(QFile::rename(p.python(), target));
    ASSERT_TRUE(QFile::link(target, p.python()));
    EXPECT_TRUE(p.isInstalled());
}

} // namespace
} // namespace zelvo
