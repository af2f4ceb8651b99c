// Puts the engine on OpenGL inside Qt views: the OpenGL render factory, the engine's context and
// the render view. Call once on the main thread, after kpv::OpenGLView::configureSharedContext()
// and the application object, before the engine context's init. The host view handed to the
// engine in DisplayParam is then a kpv::View*.
#ifndef DOVE_HOSTRENDERSYSTEM_H
#define DOVE_HOSTRENDERSYSTEM_H

namespace Dove {

void installHostRenderSystem();

}  // namespace Dove

#endif
