// The wizard's first page: the welcome texts, nothing to fill in.
#pragma once

class QWidget;

namespace ferrowane {

QWidget* buildWelcomePage();

}  // namespace ferrowane
