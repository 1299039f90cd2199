#include "ui/OnboardingColor.h"
#include "ui/OnboardingStep1ViewModel.h"

#include "OnboardingTestSupport.h"

namespace {

using onboardingtest::OnboardingFixture;

class VaultStep : public OnboardingFixture {
protected:
    std::optional<QString> storedFolder() const { return ConfigManager::shared().preferences().destinationFolder; }
    std::optional<QByteArray> storedBookmark() const { return ConfigManager::shared().preferences().vaultBookmark; }

    OnboardingStep1ViewModel model;
};

TEST_F(VaultStep, FirstRunShowsNoVaultAndCannotContinue)
{
    EXPECT_EQ(model.vaultPath(), QStringLiteral("Select Vault"));
    EXPECT_EQ(model.destinationFolder(), QStringLiteral("Mossbridge Inbox"));

    model.loadSettings();
    EXPECT_FALSE(model.hasVault());
    EXPECT_EQ(model.vaultTitle(), QStringLiteral("Obsidian Vault"));
    EXPECT_EQ(model.vaultSubtitle(), QStringLiteral("Select your vault folder"));
    EXPECT_EQ(model.selectButtonText(), QStringLiteral("Select"));
    EXPECT_EQ(model.destinationVaultText(), QStringLiteral("Vault"));
    EXPECT_EQ(model.destinationFolder(), QStringLiteral("Mossbridge Inbox"));
    EXPECT_FALSE(model.property("showsEditButton").toBool());
    EXPECT_FALSE(model.property("continueEnabled").toBool());
    EXPECT_NEAR(model.continueBackground().alphaF(), 0.3, 0.01);
    EXPECT_TRUE(model.showsHeader());
}

TEST_F(VaultStep, ChoosingAFolderNamedNotesMakesItTheVault)
{
    storeFolder(QStringLiteral("Chats"));
    const QString notes = makeFolder(QStringLiteral("somewhere/Notes"));
    model.loadSettings();

    model.selectVault();
    EXPECT_TRUE(model.isSelecting());
    ASSERT_TRUE(chooser.pending);
    EXPECT_EQ(chooser.prompts.back(), QStringLiteral("Select Vault"));
    EXPECT_EQ(chooser.messages.back(), QStringLiteral("Choose your Obsidian Vault folder"));
    chooser.answer(notes);

    EXPECT_FALSE(model.isSelecting());
    EXPECT_TRUE(model.hasVault());
    EXPECT_EQ(model.vaultTitle(), QStringLiteral("Notes"));
    EXPECT_EQ(model.vaultSubtitle(), notes);
    EXPECT_EQ(model.selectButtonText(), QStringLiteral("Change"));
    EXPECT_EQ(model.destinationVaultText(), QStringLiteral("Notes"));
    EXPECT_TRUE(model.property("showsEditButton").toBool());
    EXPECT_TRUE(model.property("continueEnabled").toBool());
    EXPECT_EQ(model.continueBackground(), OnboardingColor::fromHex(QStringLiteral("7c3aed")));
    model.setProperty("hoveringContinue", true);
    EXPECT_EQ(model.continueBackground(), OnboardingColor::fromHex(QStringLiteral("6d28d9")));
    // Recording the vault keeps the folder already chosen.
    EXPECT_EQ(storedFolder(), QStringLiteral("Chats"));
    EXPECT_EQ(VaultManager().getVaultURL(), notes);
}

TEST_F(VaultStep, ACancelledChooserChangesNothing)
{
    const QString vault = setVault();
    model.loadSettings();
    const auto bookmark = storedBookmark();
    model.selectVault();
    chooser.answer(std::nullopt);
    EXPECT_FALSE(model.isSelecting());
    EXPECT_EQ(model.vaultPath(), vault);
    EXPECT_EQ(storedBookmark(), bookmark);
}

TEST_F(VaultStep, AChooserAnsweringAfterTheStepIsGoneStillRecordsTheVault)
{
    const QString notes = makeFolder(QStringLiteral("Notes"));
    auto step = std::make_unique<OnboardingStep1ViewModel>();
    step->selectVault();
    step.reset();
    chooser.answer(notes);
    EXPECT_EQ(VaultManager().getVaultURL(), notes);
}

TEST_F(VaultStep, FolderEditsAreTrimmedAndBlankOrCancelledOnesIgnored)
{
    setVault();
    storeFolder(QStringLiteral("Inbox"));
    model.loadSettings();
    const auto bookmark = storedBookmark();

    QStringList asked;
    QObject::connect(&model, &OnboardingStep1ViewModel::folderEditRequested, [&](const QString& name) { asked << name; });
    model.editFolder();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Inbox")});

    struct Case {
        bool ok;
        QString typed;
        QString expected;
    };
    const Case cases[] = {
        {true, QStringLiteral("  AI Chats \n"), QStringLiteral("AI Chats")},
        {true, QStringLiteral("   \n\t "), QStringLiteral("AI Chats")},
        {false, QStringLiteral("Other"), QStringLiteral("AI Chats")},
        {true, QStringLiteral(""), QStringLiteral("AI Chats")},
        // Stored as typed: what the writer makes of it is its own business.
        {true, QStringLiteral("Chats/2024/../Old"), QStringLiteral("Chats/2024/../Old")},
    };
    for (const Case& c : cases) {
        model.finishEditFolder(c.ok, c.typed);
        EXPECT_EQ(model.destinationFolder(), c.expected) << c.typed.toStdString();
        EXPECT_EQ(storedFolder(), c.expected) << c.typed.toStdString();
        EXPECT_EQ(storedBookmark(), bookmark);
    }
}

TEST_F(VaultStep, ContinueStoresTheShownFolderOnlyWhenNoneIsStored)
{
    setVault();
    int continued = 0;
    QObject::connect(&model, &OnboardingStep1ViewModel::continued, [&] { ++continued; });

    storeFolder(std::nullopt);
    model.loadSettings();
    EXPECT_EQ(model.destinationFolder(), QStringLiteral("Mossbridge Inbox"));
    model.continueAction();
    EXPECT_EQ(storedFolder(), QStringLiteral("Mossbridge Inbox"));
    EXPECT_TRUE(storedBookmark().has_value());

    storeFolder(QStringLiteral("Elsewhere"));
    model.continueAction();
    EXPECT_EQ(storedFolder(), QStringLiteral("Elsewhere"));
    EXPECT_EQ(continued, 2);
}

TEST_F(VaultStep, AVaultThatNoLongerResolvesShowsAsNoVault)
{
    const QString vault = setVault(QStringLiteral("gone/Notes"));
    model.loadSettings();
    ASSERT_TRUE(model.hasVault());
    ASSERT_TRUE(QDir(dir.filePath(QStringLiteral("gone"))).removeRecursively());

    model.loadSettings();
    EXPECT_FALSE(model.hasVault());
    EXPECT_EQ(model.vaultSubtitle(), QStringLiteral("Select your vault folder"));
    EXPECT_FALSE(model.property("continueEnabled").toBool());
}

TEST_F(VaultStep, SettingsFormHasNoHeaderAndNoContinue)
{
    model.setSettingsForm(true);
    EXPECT_FALSE(model.showsHeader());
    EXPECT_FALSE(model.property("showsContinue").toBool());
}

TEST_F(VaultStep, HoverOutlinesAndButtonShades)
{
    EXPECT_EQ(model.sourceOutline().alpha(), 0);
    EXPECT_NEAR(model.changeButtonBackground().alphaF(), 0.1, 0.01);
    EXPECT_NEAR(model.editButtonBackground().alphaF(), 0.05, 0.01);
    model.setProperty("hoveringSource", true);
    model.setProperty("hoveringDest", true);
    model.setProperty("hoveringChange", true);
    model.setProperty("hoveringEdit", true);
    EXPECT_NEAR(model.sourceOutline().alphaF(), 0.2, 0.01);
    EXPECT_NEAR(model.destOutline().alphaF(), 0.2, 0.01);
    EXPECT_NEAR(model.changeButtonBackground().alphaF(), 0.2, 0.01);
    EXPECT_NEAR(model.editButtonBackground().alphaF(), 0.15, 0.01);
}

} // namespace
