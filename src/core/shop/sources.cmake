set(CORVANE_SHOP_SOURCES
  BrokerAddress.cpp
  ShopSettings.cpp
  MqttClient.cpp
  OutgoingQueue.cpp
  ShopCommand.cpp
  LibraryListing.cpp
  MqttSink.cpp
  ShopView.cpp
)
list(TRANSFORM CORVANE_SHOP_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
