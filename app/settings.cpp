#include "app/settings.h"

void ProcessingSettings::SetViewDefaults(int viewWidth, int viewHeight) {
    m_rcCrop = IntRect{0, 0, viewWidth, viewHeight};
    for (int i = 0; i < 3; ++i) {
        m_rcLight[i] = IntRect{0, 0, viewWidth, viewHeight};
        m_LightColor[i] = ChannelInts{255, 255, 255};
    }
}

void ProcessingSettings::NormalizeEffectChecks() {
    if (m_aEffectChecks.size() < m_aEffects.size())
        m_aEffectChecks.resize(m_aEffects.size(), 1);
    else if (m_aEffectChecks.size() > m_aEffects.size())
        m_aEffectChecks.resize(m_aEffects.size());
    for (int32_t& c : m_aEffectChecks) c = c != 0 ? 1 : 0;
}
