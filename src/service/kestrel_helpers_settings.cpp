#include <kestrel/service/kestrel_helpers.hpp>

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/config/sdk_configuration.hpp>

namespace kestrel {

std::shared_ptr<const platform::Bitmap>
resizeImage(const std::shared_ptr<const platform::Bitmap>& image) {
    return resizeImage(
        image, SdkConfiguration::shared().floatValueForKey(ConfigurationKey::sdkImageSendWidth),
        KestrelManager::shared().useBlackAndWhite());
}

} // namespace kestrel
