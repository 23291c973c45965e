# The render window's software rasteriser: scene geometry to an image, no GPU. Its module test
# links it too.
add_library(orvanta_rasterizer STATIC ${CMAKE_CURRENT_LIST_DIR}/rasterizer.cpp)
target_include_directories(orvanta_rasterizer PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvanta_rasterizer PUBLIC Qt5::Core Qt5::Gui Threads::Threads)
xel_warnings(orvanta_rasterizer)
