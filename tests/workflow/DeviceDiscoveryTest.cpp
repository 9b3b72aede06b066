#include "models/DecodingError.h"
#include "services/InstallationError.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"
#include "support/Gate.h"
#include "support/WorkflowFixture.h"

namespace tarn::test {
namespace {

using testing::_;
using testing::ElementsAre;

USBDeviceModel usbDevice(std::int64_t vendor, std::int64_t product) {
    return {vendor, product, u"Vendor"_s, u"Device"_s};
}

class DeviceDiscoveryTest : public WorkflowTest {
protected:
    // Records every state the search publishes, from now on.
    void recordSearchStates() {
        recording = model().deviceSearchStatus.subscribe(
                [this](const DeviceSearchState& state) { searchStates.append(state); });
        searchStates.clear();
    }

    QList<DeviceSearchState> searchStates;
    Subscription recording;
};

TEST_F(DeviceDiscoveryTest, CatalogueFillsListDevicesAndNamesAFailedFetchKeepsItAndNullEmptiesIt) {
    const auto a = catalogueDevice("Alpha", "4A9", "1");
    const auto b = catalogueDevice("Beta", "4A9", "2");
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), std::optional<QString>(), u"content"_s))
            .WillOnce(ReturnTask(catalogueJson({b, a})))
            .WillOnce(ThrowTask<QByteArray>(TransportError(QNetworkReply::SslHandshakeFailedError, "untrusted")))
            .WillOnce(ReturnTask(QByteArray("null")));
    auto& m = model();
    // When the names arrive, the list and the devices must already be there.
    bool sawCompleteCatalogue = false;
    const auto names = m.supportedDeviceNames.subscribe([&](const QStringList& delivered) {
        sawCompleteCatalogue |= !delivered.isEmpty() && m.supportedDevices() == QList{b, a} &&
                                m.supportedDeviceList().list == QList{b, a};
    });
    test::waitFor(m.fetchSupportedDevices());
    EXPECT_TRUE(sawCompleteCatalogue);
    EXPECT_EQ(m.supportedDeviceNames(), (QStringList{"Beta", "Alpha"}));
    EXPECT_TRUE(logger->lines().isEmpty());

    test::waitFor(m.fetchSupportedDevices());
    EXPECT_EQ(m.supportedDevices(), (QList{b, a}));
    EXPECT_FALSE(m.isInstallationSuccessful());
    EXPECT_EQ(m.fatalErrorMessage(), u"error.ssl.connection.failed"_s);

    m.fatalErrorMessage = QString();
    test::waitFor(m.fetchSupportedDevices());
    EXPECT_TRUE(m.supportedDeviceList().list.isEmpty() && m.supportedDevices().isEmpty());
    EXPECT_TRUE(m.supportedDeviceNames().isEmpty());
    EXPECT_TRUE(m.fatalErrorMessage().isEmpty()) << "null is an empty catalogue, not an error";
}

// A malformed service address, no device, or a device with a malformed link: reported, nothing fetched.
TEST_F(DeviceDiscoveryTest, NothingIsFetchedFromAMalformedAddressOrWithoutADevice) {
    settings.serviceBaseUrl = u"https://bad host"_s;
    test::waitFor(model().fetchSupportedDevices());
    test::waitFor(model().fetchDeviceApplications());
    model().deviceModel = TARNDeviceModel{u"Scanner"_s, u"4A9"_s, u"1A0B"_s, u"not a link"_s, u"C0FFEE"_s};
    test::waitFor(model().fetchDeviceApplications());
    const QString generic = u"[CRITICAL] A generic error occurred The operation could not be completed. "
                            "(InstallationError error 9.)"_s;
    EXPECT_THAT(logger->lines(), ElementsAre(generic, generic, generic));
    EXPECT_EQ(model().fatalErrorMessage(), u"error.generic"_s);
    EXPECT_TRUE(model().isInstallationSuccessful()) << "only a failed fetch marks the installation failed";
}

TEST_F(DeviceDiscoveryTest, FirstBusDeviceDecidesAndTheFirstCatalogueEntryForItIsFound) {
    struct Case {
        const char* name;
        QList<TARNDeviceModel> catalogue;
        QList<USBDeviceModel> bus;
        qsizetype expected; // index into the catalogue
    };
    const auto d = catalogueDevice;
    const auto bus = usbDevice(0x4A9, 0x1A0B);
    // clang-format off
    const QList<Case> cases{
        {"NumbersNotTexts", {d("Other", "4A9", "1A0C"), d("Scanner", "04a9", "01a0B")}, {bus}, 1},
        {"DuplicateEntries", {d("First", "4A9", "1A0B"), d("Second", "4A9", "1A0B")}, {bus}, 0},
        {"UnreadableEntrySkipped", {d("Prefixed", "0x4A9", "1A0B"), d("Plain", "+4A9", "1A0B")}, {bus}, 1},
        {"SeveralDevicesBusOrderWins", {d("B", "BBB", "2"), d("A", "AAA", "1")},
         {usbDevice(0xAAA, 1), usbDevice(0xBBB, 2)}, 1},
    };
    // clang-format on
    settings.pauseBetweenQueries = std::chrono::milliseconds(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadCatalogue(c.catalogue);
        recordSearchStates();
        // The device appears only at the second query, after a pause.
        EXPECT_CALL(*usb, findMatchingUSBDevices(toUSBDeviceModels(c.catalogue)))
                .WillOnce(ReturnTask(QList<USBDeviceModel>()))
                .WillOnce(ReturnTask(c.bus));
        test::waitFor(model().searchForDevice());
        EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::found(c.catalogue[c.expected]));
        EXPECT_EQ(model().deviceModel(), c.catalogue[c.expected]);
        EXPECT_EQ(searchStates, (QList{DeviceSearchState::searching(), model().deviceSearchStatus()}));
        testing::Mock::VerifyAndClearExpectations(rest.get());
    }
}

TEST_F(DeviceDiscoveryTest, UnreadableCatalogueNumbersMatchNothingAndTheLimitCutsThePauseShort) {
    settings.searchTimeLimit = std::chrono::milliseconds(10);
    const auto previous = catalogueDevice(u"Previous"_s, "1", "1");
    loadCatalogue({catalogueDevice(u"Empty"_s, "", ""), catalogueDevice(u"Hex"_s, "0x0", "0")});
    model().deviceModel = previous;
    recordSearchStates();
    // Neither entry names a device, yet a bus helper reports one numbered 0: read as 0, the texts would
    // match it. The fixture's pause is an hour: the search can only end because the limit interrupts it.
    EXPECT_CALL(*usb, findMatchingUSBDevices(QList<USBDeviceModel>())).WillOnce(ReturnTask(QList{usbDevice(0, 0)}));

    test::waitFor(model().searchForDevice());
    EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::notFound());
    EXPECT_EQ(searchStates, (QList{DeviceSearchState::searching(), DeviceSearchState::notFound()}));
    EXPECT_EQ(model().deviceModel(), previous) << "a search without a match clears nothing";
}

TEST_F(DeviceDiscoveryTest, MatchReportedAfterTheLimitStillLandsBeforeTheNotFoundCheck) {
    settings.searchTimeLimit = std::chrono::milliseconds(1);
    const auto scanner = catalogueDevice(u"Scanner"_s, "4A9", "1A0B");
    loadCatalogue({scanner});
    recordSearchStates();
    Gate slowBus;
    EXPECT_CALL(*usb, findMatchingUSBDevices(_)).WillOnce([&](auto&&...) {
        return afterGate(&slowBus, QList{usbDevice(0x4A9, 0x1A0B)});
    });

    bool ended = false;
    QCoro::Task<> search = model().searchForDevice();
    QCoro::connect(std::move(search), &model(), [&ended] { ended = true; });
    // Let the limit pass while the query is still running; the search must wait for the query.
    processEventsUntil([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_FALSE(ended);
    slowBus.open();
    ASSERT_TRUE(processEventsUntil([&] { return ended; }));
    EXPECT_EQ(searchStates, (QList{DeviceSearchState::searching(), DeviceSearchState::found(scanner)}))
            << "notFound must never show, even briefly";
    EXPECT_EQ(model().deviceModel(), scanner);
}

// An empty catalogue ends the search at once (nothing to look for); an unobtainable one leaves it
// searching, and its error is what the window shows. Neither asks the bus.
TEST_F(DeviceDiscoveryTest, EmptyCatalogueEndsTheSearchUnobtainableLeavesItSearchingWithoutABusQuery) {
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), _, _))
            .WillOnce(ReturnTask(QByteArray("null")))
            .WillOnce(ReturnTask(QByteArray("[]")))
            .WillOnce(ThrowTask<QByteArray>(RestClientError::invalidResponse()));
    recordSearchStates();
    test::waitFor(model().searchForDevice());
    test::waitFor(model().searchForDevice()); // an empty catalogue is fetched again by the search
    const QList twice{DeviceSearchState::searching(), DeviceSearchState::notFound()};
    EXPECT_EQ(searchStates, twice + twice);
    EXPECT_TRUE(model().fatalErrorMessage().isEmpty());
    EXPECT_TRUE(endedWithoutSupportedDevices(model().deviceSearchStatus(), model().supportedDevices()));

    test::waitFor(model().searchForDevice());
    EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::searching());
    EXPECT_EQ(model().fatalErrorMessage(), u"error.connectivity"_s);
    EXPECT_FALSE(model().isInstallationSuccessful());
}

TEST_F(DeviceDiscoveryTest, ConfigurationPreselectsTheMandatoryAppsOnceAndAFailedFetchKeepsTheSelection) {
    const auto scanner = catalogueDevice("Scanner", "4A9", "1A0B");
    EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(scanner.configLink), std::optional<QString>(scanner.hash),
                                         u"device configuration"_s))
            .WillOnce(ReturnTask(configurationJson({{"Scan", true}, {"Extra", false}, {"Archive", true}})))
            .WillOnce(ThrowTask<QByteArray>(InstallationError::mismatchHash("Could not validate SHA512 for x.")))
            .WillOnce(ReturnTask(QByteArray(R"({"name": "Scanner", "apps": 3})")));
    auto& m = model();
    m.deviceModel = scanner;
    m.selectedAppsForInstallation = {appEntry("Stale", true)};
    QList<QStringList> selections;
    QList<qsizetype> taskCounts;
    bool configurationBeforeSelection = false;
    const auto watchSelection =
            m.selectedAppsForInstallation.subscribe([&](const QList<TARNDeviceAppConfigurationModel>& selection) {
                selections.append(taskNames(selection));
                taskCounts.append(m.tasksToRun().size());
                configurationBeforeSelection |= m.deviceApplicationsModel().has_value();
            });
    selections.clear();
    taskCounts.clear();
    test::waitFor(m.fetchDeviceApplications());
    // One rebuild of the task list, not one per application: per application, the cost grows with the cube
    // of their number.
    EXPECT_THAT(selections, ElementsAre((QStringList{"Scan", "Archive"})));
    EXPECT_THAT(taskCounts, ElementsAre(2)) << "the assignment rebuilds the task list";
    EXPECT_FALSE(configurationBeforeSelection);
    ASSERT_TRUE(m.deviceApplicationsModel().has_value());
    EXPECT_EQ(m.deviceApplicationsModel()->apps.size(), 3);
    EXPECT_EQ(taskNames(m.tasksToRun()), (QStringList{"Archive", "Scan"}));

    test::waitFor(m.fetchDeviceApplications());
    EXPECT_FALSE(m.deviceApplicationsModel().has_value());
    EXPECT_EQ(selections.size(), 1) << "the selection is kept";
    EXPECT_FALSE(m.isInstallationSuccessful());
    EXPECT_EQ(m.fatalErrorMessage(), u"error.content.hash.mismatch"_s);
    EXPECT_EQ(logger->lines().last(), "[CRITICAL] error.content.hash.mismatch. Could not validate SHA512 for x.");

    m.deviceApplicationsModel = TARNDeviceAppsConfigurationModel{};
    test::waitFor(m.fetchDeviceApplications());
    EXPECT_EQ(m.fatalErrorMessage(), u"error.corrupted.json"_s);
    EXPECT_FALSE(m.deviceApplicationsModel().has_value());
}

template <typename E>
std::exception_ptr raise(E error) {
    return std::make_exception_ptr(error);
}

// An operation that fails at once, the way a screen's detached operation lets a failure escape.
QCoro::Task<> rethrown(std::exception_ptr error) {
    std::rethrow_exception(error);
    co_return;
}

using HandleErrorTest = WorkflowTest;

TEST_F(HandleErrorTest, ShowsTheKeyOfTheErrorsClassAndLogsItAfterwards) {
    struct Case {
        std::exception_ptr error;
        QString key;
        QString detail; // the log line is the key, or the generic text, followed by this
    };
    const DecodingError decoding(DecodingError::Kind::typeMismatch, "apps", "expected an array");
    const auto wrappedTls =
            RestClientError::networkError(raise(TransportError(QNetworkReply::SslHandshakeFailedError, "untrusted")));
    const QString code = u" The operation could not be completed. (InstallationError error %1.)"_s;
    // clang-format off
    const QList<Case> cases{
        {raise(InstallationError::pkgNotFound("/m")), "error.pkg.from.dmg.not.found", ". /m"},
        {raise(InstallationError::mismatchHash("No SHA512.")), "error.content.hash.mismatch", ". No SHA512."},
        {raise(InstallationError::mismatchSignature("signer")), "error.code.signature.mismatch", ". signer"},
        {raise(InstallationError::invalidPath("::")), "error.file.path.invalid", ". ::"},
        {raise(decoding), "error.corrupted.json", ". " + decoding.localizedDescription()},
        {raise(TransportError(QNetworkReply::SslHandshakeFailedError, "tls")), "error.ssl.connection.failed", " tls"},
        {raise(TransportError(QNetworkReply::InsecureRedirectError, "http")), "error.ssl.connection.failed", " http"},
        {raise(TransportError(QNetworkReply::ConnectionRefusedError, "refused")), "error.connectivity", " refused"},
        {raise(RestClientError::invalidResponse()), "error.connectivity",
         ' ' + RestClientError::invalidResponse().localizedDescription()},
        // A download wraps even a TLS failure: shown as connectivity, not as a TLS problem.
        {raise(wrappedTls), "error.connectivity", ' ' + wrappedTls.localizedDescription()},
        {raise(InstallationError::installationFailed("exit 1")), "error.generic", code.arg(2)},
        {raise(SystemError("cannot start")), "error.generic", " cannot start"},
        {raise(std::runtime_error("odd")), "error.generic", " odd"},
    };
    // clang-format on
    auto& m = model();
    QStringList logAtAssignment;
    const auto watch = m.fatalErrorMessage.subscribe([&](const QString&) { logAtAssignment = logger->lines(); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.toStdString() + c.detail.toStdString());
        logger->clear();
        logAtAssignment = QStringList{"not assigned"};
        m.startDetached(rethrown(c.error));
        EXPECT_EQ(m.fatalErrorMessage(), c.key);
        const QString lead = c.key == "error.generic" ? u"A generic error occurred"_s : c.key;
        EXPECT_THAT(logger->lines(), ElementsAre("[CRITICAL] " + lead + c.detail));
        EXPECT_TRUE(logAtAssignment.isEmpty()) << "the message is published before the line is logged";
    }
    EXPECT_TRUE(m.isInstallationSuccessful()) << "nothing else changes";
}

} // namespace
} // namespace tarn::test
