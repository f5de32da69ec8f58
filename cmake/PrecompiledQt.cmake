# cormap_precompile_qt(): precompiled Qt headers for every library and program of the project, so a
# clean build parses the big Qt headers a handful of times instead of once per source file.
#
# Targets are grouped by the Qt modules they link, directly or through the libraries they link, and
# each group reuses the header of one small donor target built for the group alone (a group of fewer
# than CORMAP_PCH_MIN_SOURCES sources compiles as before: its donor would cost more than it saves).
# The compiler takes a precompiled header only where the macros it tested match, so the header holds
# only headers that test none of the macros that differ between targets: QtTest's own headers, which
# test QT_WIDGETS_LIB, QT_GUI_LIB, QT_NETWORK_LIB and the per-folder QT_TESTCASE_BUILDDIR, are left
# out and parsed by each test; the Core, Network, Gui and Widgets headers they pull in are in.
#
# Only Qt's headers are precompiled, never the project's own, so editing a project header recompiles
# what it did before and no more. Off with -DCORMAP_PCH=OFF, e.g. to check that every file includes
# what it uses (the fuzz build, which compiles the window-free libraries, never uses them). Off by
# default where the compiler runs through ccache: ccache does not cache a compile that uses a
# precompiled header (without sloppiness settings of its own), and its hits are cheaper still.

set(_cormap_pch_default ON)
if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
    set(_cormap_pch_default OFF)
endif()
option(CORMAP_PCH "Precompile the Qt headers each library and program uses" ${_cormap_pch_default})
set(CORMAP_PCH_MIN_SOURCES 3 CACHE STRING
    "Fewest sources of one set of Qt modules that get a precompiled header")

# The headers precompiled for each Qt module: all of QtCore, which every test pulls in through
# <QtTest>; of the larger modules the classes the sources and QtTest's helpers include.
set(_cormap_pch_Core <QtCore/QtCore>)
set(_cormap_pch_Network
    <QtNetwork/QHostAddress> <QtNetwork/QNetworkCookie> <QtNetwork/QNetworkDatagram>
    <QtNetwork/QNetworkInterface> <QtNetwork/QNetworkReply> <QtNetwork/QTcpServer> <QtNetwork/QTcpSocket>
    <QtNetwork/QUdpSocket>)
set(_cormap_pch_Gui
    <QtGui/QAccessible> <QtGui/QAction> <QtGui/QColor> <QtGui/QFont> <QtGui/QFontMetrics> <QtGui/QGuiApplication>
    <QtGui/QIcon> <QtGui/QImage> <QtGui/QKeyEvent> <QtGui/QKeySequence> <QtGui/QPainter>
    <QtGui/QPainterPath> <QtGui/QPixmap> <QtGui/QPointingDevice> <QtGui/QRegion> <QtGui/QVector4D>
    <QtGui/QWindow> <QtGui/qtestsupport_gui.h>)
set(_cormap_pch_Widgets
    <QtWidgets/QAbstractItemView> <QtWidgets/QAccessibleWidget>
    <QtWidgets/QApplication> <QtWidgets/QCheckBox> <QtWidgets/QComboBox> <QtWidgets/QDialog>
    <QtWidgets/QDialogButtonBox> <QtWidgets/QFormLayout> <QtWidgets/QGridLayout>
    <QtWidgets/QGroupBox> <QtWidgets/QHBoxLayout> <QtWidgets/QHeaderView> <QtWidgets/QLabel>
    <QtWidgets/QLineEdit> <QtWidgets/QListWidget> <QtWidgets/QMenu> <QtWidgets/QMessageBox>
    <QtWidgets/QPlainTextEdit> <QtWidgets/QProgressBar> <QtWidgets/QPushButton>
    <QtWidgets/QRadioButton> <QtWidgets/QScrollBar> <QtWidgets/QTableWidget> <QtWidgets/QTextEdit>
    <QtWidgets/QToolButton> <QtWidgets/QVBoxLayout> <QtWidgets/QWidget> <QtWidgets/qtestsupport_widgets.h>)
set(_cormap_pch_modules Core Network Gui Widgets)

# Every target defined in DIR and the folders below it.
function(_cormap_pch_targets dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        _cormap_pch_targets(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The Qt modules (of _cormap_pch_modules) whose compile definitions reach TARGET: what it links and
# what those link publicly; a private dependency of a static library ($<LINK_ONLY:...>) defines nothing.
function(_cormap_pch_qt_modules target out)
    get_target_property(queue ${target} LINK_LIBRARIES)
    if(NOT queue)
        set(queue)
    endif()
    set(seen)
    set(modules)
    while(queue)
        list(POP_FRONT queue lib)
        if(lib IN_LIST seen OR lib MATCHES "^\\$<" OR NOT TARGET ${lib})
            continue()
        endif()
        list(APPEND seen ${lib})
        if(lib MATCHES "^Qt6::(.+)$" AND CMAKE_MATCH_1 IN_LIST _cormap_pch_modules)
            list(APPEND modules ${CMAKE_MATCH_1})
        endif()
        get_target_property(next ${lib} INTERFACE_LINK_LIBRARIES)
        if(next)
            list(APPEND queue ${next})
        endif()
    endwhile()
    # Widgets brings Gui; keep the list in a fixed order so equal sets give equal names.
    set(sorted)
    foreach(m IN LISTS _cormap_pch_modules)
        if(m IN_LIST modules)
            list(APPEND sorted ${m})
        endif()
    endforeach()
    set(${out} ${sorted} PARENT_SCOPE)
endfunction()

function(cormap_precompile_qt)
    if(NOT CORMAP_PCH OR CORMAP_FUZZ)
        return()
    endif()
    _cormap_pch_targets(${PROJECT_SOURCE_DIR} targets)
    set(groups)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        get_target_property(imported ${target} IMPORTED)
        if(imported OR NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
            continue()
        endif()
        get_target_property(sources ${target} SOURCES)
        list(FILTER sources INCLUDE REGEX "\\.cpp$")
        list(LENGTH sources count)
        _cormap_pch_qt_modules(${target} modules)
        if(NOT "Core" IN_LIST modules)
            continue()
        endif()
        string(JOIN "_" group ${modules})
        if(NOT group IN_LIST groups)
            list(APPEND groups ${group})
            set(_modules_${group} ${modules})
            set(_targets_${group})
            set(_count_${group} 0)
        endif()
        list(APPEND _targets_${group} ${target})
        math(EXPR _count_${group} "${_count_${group}} + ${count}")
    endforeach()

    set(donor_source ${PROJECT_BINARY_DIR}/generated/cormap_pch_donor.cpp)
    file(CONFIGURE OUTPUT ${donor_source} CONTENT "// Only its precompiled header is of use.\n")
    foreach(group IN LISTS groups)
        if(_count_${group} LESS CORMAP_PCH_MIN_SOURCES)
            continue()
        endif()
        set(donor cormap_pch_${group})
        add_library(${donor} STATIC ${donor_source})
        set(headers)
        set(libs)
        foreach(m IN LISTS _modules_${group})
            list(APPEND headers ${_cormap_pch_${m}})
            list(APPEND libs Qt6::${m})
        endforeach()
        target_link_libraries(${donor} PRIVATE cormap_cfg ${libs})
        set_target_properties(${donor} PROPERTIES AUTOMOC OFF AUTORCC OFF)
        target_precompile_headers(${donor} PRIVATE ${headers})
        foreach(target IN LISTS _targets_${group})
            target_precompile_headers(${target} REUSE_FROM ${donor})
            # AUTOMOC's mocs_compilation.cpp is empty where the sources include their moc output (every
            # test) and small elsewhere: loading the header costs it more than it saves (measured).
            get_target_property(automoc ${target} AUTOMOC)
            if(automoc)
                get_target_property(autogen_dir ${target} AUTOGEN_BUILD_DIR)
                if(NOT autogen_dir)
                    get_target_property(binary_dir ${target} BINARY_DIR)
                    set(autogen_dir ${binary_dir}/${target}_autogen)
                endif()
                set_source_files_properties(${autogen_dir}/mocs_compilation.cpp TARGET_DIRECTORY ${target}
                    PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
            endif()
        endforeach()
        list(LENGTH _targets_${group} n)
        message(STATUS "Precompiled Qt headers ${donor}: ${n} targets, ${_count_${group}} sources")
    endforeach()
endfunction()
